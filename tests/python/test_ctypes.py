"""Loads the shared library with ctypes and drives it like a host application would."""
import ctypes
import sys

lib = ctypes.CDLL(sys.argv[1])
lib.Kiv_InitalizeU(None)
assert lib.Kiv_GetFileManVersion() == 0
print("python ctypes ok")
