# Drives the shared library from Python ctypes as a host would, against a phone scripted behind
# the plugged link: the layouts of the link table, the type list and the report as a host
# declares them on its own.
import ctypes as C
import struct
import sys

lib = C.CDLL(sys.argv[1])
failed = []


def check(name, condition):
    if not condition:
        failed.append(name)
        print("FAIL:", name)


WNDPROC = C.CFUNCTYPE(C.c_ssize_t, C.c_void_p, C.c_void_p, C.c_uint32, C.c_size_t, C.c_ssize_t)


class KivReport(C.Structure):
    _fields_ = [("style", C.c_uint32), ("text1", C.c_void_p), ("text2", C.c_void_p), ("value", C.c_float)]


class KivTypeEntry(C.Structure):
    _fields_ = [("name", C.c_uint16 * 20), ("maxSize", C.c_uint32), ("rules", C.c_uint32)]


class KivTypeArray(C.Structure):
    _fields_ = [("header", C.c_void_p), ("entries", C.POINTER(KivTypeEntry)), ("count", C.c_int32),
                ("capacity", C.c_int32), ("growBy", C.c_int32)]


lib.Kiv_CreateWindow.restype = C.c_void_p
lib.Kiv_CreateWindow.argtypes = [WNDPROC, C.c_void_p]
lib.Kiv_DestroyWindow.argtypes = lib.Kiv_InitalizeU.argtypes = [C.c_void_p]
lib.Kiv_Connect.argtypes = [C.c_int32, C.c_int32, C.c_void_p, C.c_int32]
lib.Kiv_GetSupportFileExt.restype = C.POINTER(KivTypeArray)
messages = []


@WNDPROC
def window_proc(user, wnd, msg, wparam, lparam):
    messages.append((msg, wparam, C.cast(lparam, C.POINTER(KivReport)).contents.style if msg == 0x8064 else None))
    return 0


wnd = lib.Kiv_CreateWindow(window_proc, None)


def model_name():
    buffer = (C.c_uint16 * 32)()
    lib.Kiv_GetModelName(buffer)
    return bytes(buffer).decode("utf-16-le").split("\0")[0]


# A phone scripted behind the plugged link: every entry of the table in its place.
V, I, U8P = C.c_void_p, C.c_int, C.POINTER(C.c_uint8)
calls, answers, sent = [], [], []
state = {"up": False, "connect": 1}


def connect(user, ident, length):
    calls.append(("connect", ident[:length]))
    state["up"] = state["connect"] == 1
    return state["connect"]


def pkt_send(user, cls, code, flag, seq, body, length):
    sent.append((cls, code, flag, seq, bytes(body[:length]) if length else b""))
    return 1


def pkt_read(user, cls, code, body, length):
    if not answers:
        return 0
    a_body = answers.pop(0)
    cls[0], code[0], length[0] = 0x20, sent[-1][1], len(a_body)
    C.memmove(body, a_body, len(a_body))
    return 1


def phone_info(user, info):
    C.memmove(info, b"\x01plugged one\x00", 13)
    return 1


def log(name):
    return lambda user, value=None: calls.append((name, value))


table = [("set_trans_method", None, [I], log("method")), ("set_com_port", None, [I], log("port")),
         ("set_baudrate", None, [I], log("baud")), ("set_hwnd", None, [V], log("hwnd")),
         ("connect", I, [C.c_char_p, I], connect), ("is_connected", I, [], lambda u: int(state["up"])),
         ("disconnect", None, [], log("disconnect")), ("clean", None, [], log("clean")),
         ("close_port_handle", I, [], lambda u: 1), ("set_bt_device_address", None, [U8P], lambda u, a: None)] + \
        [(name, I, [], lambda u: 1) for name in ("bt_connection", "bt_connection_ex", "bt_disconnection",
                                                 "bt_disconnection_ex")] + \
        [("get_next_seq_num", C.c_uint8, [], lambda u: (len(sent) + 1) & 0xFF), ("get_req_timeout", C.c_uint32, [], lambda u: 5000),
         ("set_req_timeout", None, [C.c_uint32], lambda u, ms: None),
         ("pkt_send", I, [C.c_uint8, C.c_uint8, C.c_int32, C.c_uint8, U8P, C.c_uint16], pkt_send),
         ("pkt_read", I, [U8P, U8P, U8P, C.POINTER(C.c_uint16)], pkt_read),
         ("get_phone_info", I, [U8P], phone_info), ("set_backup_tool", I, [], lambda u: 1)]
types_of = [(name, C.CFUNCTYPE(result, V, *args)) for name, result, args, _ in table]
Ops = type("Ops", (C.Structure,), {"_fields_": [("user", V)] + types_of})
ops = Ops(None, *[kind(function) for (_, kind), (_, _, _, function) in zip(types_of, table)])
lib.Kiv_SetPhoneLink(C.byref(ops))

types_text = "mp3|3|0/jpg|1|9".encode("utf-16-le") + b"\0\0"
answers[:] = [b"\x01" + struct.pack("<IBII", 0xFFFFFFFF, 3, 1024, 64) + types_text + struct.pack("<IIBB", 32, 255, 4, 0),
              b"\x01\x00\x00" + "Music|3".encode("utf-16-le") + b"\0\0"]
lib.Kiv_InitalizeU(wnd)
check("plugged connect", lib.Kiv_Connect(4, 0, wnd, 2) == 1)
check("plugged setup", [c[0] for c in calls[:5]] == ["method", "port", "baud", "hwnd", "connect"]
      and calls[1:3] == [("port", 4), ("baud", 115200)] and calls[4] == ("connect", b"qorvend"))
check("plugged handshake request", sent[0][:3] == (0x20, 0x01, 1) and sent[0][4] == b"")
check("plugged version and model", lib.Kiv_GetFileManVersion() == 3 and model_name() == "PLUGGED ONE")
types = lib.Kiv_GetSupportFileExt().contents
check("plugged types", types.count == 2 and types.entries[1].maxSize == 9 and types.entries[1].rules == 1)
check("plugged disconnect", lib.Kiv_Disconnect() == 1 and ("disconnect", None) in calls)

# A locked phone: one lock message, no report; another failure: one report without text.
for result, expected in ((-2, [(0x401, 0, None)]), (0, [(0x8064, 0xCF, 0x80)])):
    messages.clear()
    state["up"], state["connect"] = False, result
    lib.Kiv_InitalizeU(wnd)
    check("failed connect %d" % result, lib.Kiv_Connect(1, 0, wnd, 1) == 0 and messages == expected)

lib.Kiv_SetPhoneLink(None)
lib.Kiv_DestroyWindow(wnd)
print("%d failed" % len(failed))
sys.exit(1 if failed else 0)
