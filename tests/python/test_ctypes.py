"""Drives the shared library from Python ctypes as a host would: the simulated phone
in-process, and a phone scripted byte by byte behind the plugged link."""
import ctypes
import os
import struct
import sys
import tempfile

lib = ctypes.CDLL(sys.argv[1])
passed = failed = 0


def check(name, condition):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL:", name)


KivHwnd = ctypes.c_void_p
WNDPROC = ctypes.CFUNCTYPE(ctypes.c_ssize_t, ctypes.c_void_p, KivHwnd, ctypes.c_uint32,
                           ctypes.c_size_t, ctypes.c_ssize_t)


class KivReport(ctypes.Structure):
    _fields_ = [("style", ctypes.c_uint32), ("text1", ctypes.c_void_p),
                ("text2", ctypes.c_void_p), ("value", ctypes.c_float)]


class KivTypeEntry(ctypes.Structure):
    _fields_ = [("name", ctypes.c_uint16 * 20), ("maxSize", ctypes.c_uint32), ("rules", ctypes.c_uint32)]


class KivTypeArray(ctypes.Structure):
    _fields_ = [("header", ctypes.c_void_p), ("entries", ctypes.POINTER(KivTypeEntry)),
                ("count", ctypes.c_int32), ("capacity", ctypes.c_int32), ("growBy", ctypes.c_int32)]


lib.Kiv_CreateWindow.restype = KivHwnd
lib.Kiv_CreateWindow.argtypes = [WNDPROC, ctypes.c_void_p]
lib.Kiv_DestroyWindow.argtypes = [KivHwnd]
lib.Kiv_InitalizeU.argtypes = [KivHwnd]
lib.Kiv_Connect.argtypes = [ctypes.c_int32, ctypes.c_int32, KivHwnd, ctypes.c_int32]
lib.Kiv_GetSupportFileExt.restype = ctypes.POINTER(KivTypeArray)

messages = []


@WNDPROC
def window_proc(user, wnd, msg, wparam, lparam):
    style = ctypes.cast(lparam, ctypes.POINTER(KivReport)).contents.style if msg == 0x8064 else None
    messages.append((msg, wparam, style))
    return 0


wnd = lib.Kiv_CreateWindow(window_proc, None)


def utf16(buffer):
    return bytes(buffer).decode("utf-16-le").split("\0")[0]


# The simulated phone in this process.
with tempfile.TemporaryDirectory() as phone_dir:
    for name in ("Music", "Pictures"):
        os.mkdir(os.path.join(phone_dir, name))
    config = os.path.join(phone_dir, "..", os.path.basename(phone_dir) + ".xml")
    with open(config, "w") as f:
        f.write('<phone model="py phone" version="8"><types>mp3|3|0/jpg|1|9</types></phone>')
    os.environ["KIVMOD_LINK"] = "sim:" + phone_dir
    os.environ["KIVMOD_SIM_CONFIG"] = config
    lib.Kiv_InitalizeU(wnd)
    check("sim connect", lib.Kiv_Connect(1, 0, wnd, 1) == 1)
    check("sim version", lib.Kiv_GetFileManVersion() == 8)
    model = (ctypes.c_uint16 * 32)()
    lib.Kiv_GetModelName(model)
    check("sim model", utf16(model) == "PY PHONE")
    types = lib.Kiv_GetSupportFileExt().contents
    check("sim types", types.count == 2 and types.entries[1].maxSize == 9 and types.entries[1].rules == 1)
    check("sim disconnect", lib.Kiv_Disconnect() == 1)
    os.remove(config)
    del os.environ["KIVMOD_LINK"], os.environ["KIVMOD_SIM_CONFIG"]

# A phone scripted behind the plugged link.
calls = []
answers = []
sent = []

V = ctypes.c_void_p
I = ctypes.c_int


class Ops(ctypes.Structure):
    _fields_ = [("user", V),
                ("set_trans_method", ctypes.CFUNCTYPE(None, V, I)),
                ("set_com_port", ctypes.CFUNCTYPE(None, V, I)),
                ("set_baudrate", ctypes.CFUNCTYPE(None, V, I)),
                ("set_hwnd", ctypes.CFUNCTYPE(None, V, V)),
                ("connect", ctypes.CFUNCTYPE(I, V, ctypes.c_char_p, I)),
                ("is_connected", ctypes.CFUNCTYPE(I, V)),
                ("disconnect", ctypes.CFUNCTYPE(None, V)),
                ("clean", ctypes.CFUNCTYPE(None, V)),
                ("close_port_handle", ctypes.CFUNCTYPE(I, V)),
                ("set_bt_device_address", ctypes.CFUNCTYPE(None, V, ctypes.POINTER(ctypes.c_uint8))),
                ("bt_connection", ctypes.CFUNCTYPE(I, V)),
                ("bt_connection_ex", ctypes.CFUNCTYPE(I, V)),
                ("bt_disconnection", ctypes.CFUNCTYPE(I, V)),
                ("bt_disconnection_ex", ctypes.CFUNCTYPE(I, V)),
                ("get_next_seq_num", ctypes.CFUNCTYPE(ctypes.c_uint8, V)),
                ("get_req_timeout", ctypes.CFUNCTYPE(ctypes.c_uint32, V)),
                ("set_req_timeout", ctypes.CFUNCTYPE(None, V, ctypes.c_uint32)),
                ("pkt_send", ctypes.CFUNCTYPE(I, V, ctypes.c_uint8, ctypes.c_uint8, ctypes.c_int32,
                                              ctypes.c_uint8, ctypes.POINTER(ctypes.c_uint8), ctypes.c_uint16)),
                ("pkt_read", ctypes.CFUNCTYPE(I, V, ctypes.POINTER(ctypes.c_uint8), ctypes.POINTER(ctypes.c_uint8),
                                              ctypes.POINTER(ctypes.c_uint8), ctypes.POINTER(ctypes.c_uint16))),
                ("get_phone_info", ctypes.CFUNCTYPE(I, V, ctypes.POINTER(ctypes.c_uint8))),
                ("set_backup_tool", ctypes.CFUNCTYPE(I, V))]


state = {"up": False, "seq": 0, "connect": 1}


def log(name):
    def f(user, *args):
        calls.append((name,) + tuple(a for a in args if isinstance(a, (int, bytes))))
    return f


def connect(user, ident, length):
    calls.append(("connect", ident[:length], length))
    state["up"] = state["connect"] == 1
    return state["connect"]


def next_seq(user):
    state["seq"] = (state["seq"] + 1) & 0xFF
    return state["seq"]


def pkt_send(user, cls, code, flag, seq, body, length):
    sent.append((cls, code, flag, seq, bytes(body[:length]) if length else b""))
    return 1


def pkt_read(user, cls, code, body, length):
    if not answers:
        return 0
    a_cls, a_body = answers.pop(0)
    cls[0] = a_cls
    code[0] = sent[-1][1]
    ctypes.memmove(body, a_body, len(a_body))
    length[0] = len(a_body)
    return 1


def phone_info(user, info):
    name = b"\x01plugged one\x00"
    ctypes.memmove(info, name, len(name))
    return 1


ops = Ops(None, Ops._fields_[1][1](log("set_trans_method")), Ops._fields_[2][1](log("set_com_port")),
          Ops._fields_[3][1](log("set_baudrate")), Ops._fields_[4][1](lambda u, w: calls.append(("set_hwnd",))),
          Ops._fields_[5][1](connect), Ops._fields_[6][1](lambda u: 1 if state["up"] else 0),
          Ops._fields_[7][1](log("disconnect")), Ops._fields_[8][1](log("clean")),
          Ops._fields_[9][1](lambda u: 1), Ops._fields_[10][1](lambda u, a: None),
          Ops._fields_[11][1](lambda u: 1), Ops._fields_[12][1](lambda u: 1),
          Ops._fields_[13][1](lambda u: 1), Ops._fields_[14][1](lambda u: 1),
          Ops._fields_[15][1](next_seq), Ops._fields_[16][1](lambda u: 5000),
          Ops._fields_[17][1](lambda u, ms: None), Ops._fields_[18][1](pkt_send),
          Ops._fields_[19][1](pkt_read), Ops._fields_[20][1](phone_info), Ops._fields_[21][1](lambda u: 1))
lib.Kiv_SetPhoneLink(ctypes.byref(ops))

types_text = "mp3|3|0".encode("utf-16-le") + b"\0\0"
handshake = b"\x01" + struct.pack("<IBII", 0xFFFFFFFF, 3, 1024, 64) + types_text + struct.pack("<IIBB", 32, 255, 4, 0)
roots = b"\x01\x00\x00" + "Music|3".encode("utf-16-le") + b"\0\0"
answers[:] = [(0x20, handshake), (0x20, roots)]
lib.Kiv_InitalizeU(wnd)
check("plugged connect", lib.Kiv_Connect(4, 0, wnd, 2) == 1)
check("plugged setup order", [c[0] for c in calls[:5]] ==
      ["set_trans_method", "set_com_port", "set_baudrate", "set_hwnd", "connect"])
check("plugged baud", calls[2] == ("set_baudrate", 115200))
check("plugged id", calls[4] == ("connect", b"qorvend", 7))
check("plugged handshake request", sent[0][:3] == (0x20, 0x01, 1) and sent[0][4] == b"")
check("plugged version", lib.Kiv_GetFileManVersion() == 3)
model = (ctypes.c_uint16 * 32)()
lib.Kiv_GetModelName(model)
check("plugged model", utf16(model) == "PLUGGED ONE")

# A locked phone: one lock message, no report.
messages.clear()
state["up"] = False
state["connect"] = -2
lib.Kiv_InitalizeU(wnd)
check("locked result", lib.Kiv_Connect(1, 0, wnd, 1) == 0)
check("locked message", messages == [(0x401, 0, None)])
messages.clear()
state["connect"] = 0
check("failed result", lib.Kiv_Connect(1, 0, wnd, 1) == 0)
check("failed report", messages == [(0x8064, 0xCF, 0x80)])

lib.Kiv_SetPhoneLink(None)
lib.Kiv_DestroyWindow(wnd)
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
