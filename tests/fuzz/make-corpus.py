#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into tests/fuzz/corpus/.

The seeds are the examples the unit tests use, written in each target's input
format. Wire messages are encoded by protoc from the hand-written schema the
wire tests read (tests/analytics/data/wire_messages.proto); audio frames by
libsbc. Run it again after changing an input format. Inputs that once broke
a target are kept beside the seeds (found-*) and left alone here.
"""
import ctypes
import json
import math
import plistlib
import re
import shutil
import struct
import subprocess
import sys
from datetime import datetime, timezone
from pathlib import Path

HERE = Path(__file__).resolve().parent
CORPUS = HERE / "corpus"
PROTO_DIR = HERE.parent / "analytics" / "data"
PROTO = PROTO_DIR / "wire_messages.proto"


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode())


# ---- property lists -----------------------------------------------------------

def plists():
    every_kind = plistlib.dumps({
        "yes": True, "no": False, "integer": -42, "big": 2**62, "real": 1.5, "text": "héllo <&>",
        "data": b"\x00\x01binary", "date": datetime(2024, 6, 11, 12, 30, tzinfo=timezone.utc),
        "list": [1, "two", [3.0]], "nested": {"inner": {"deep": ""}},
    })
    wrapped = lambda body: ('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">' + body + "</plist>\n")
    examples = {
        "every-kind.plist": every_kind,
        "comments.plist": wrapped("<!-- note --><dict><key>a</key><!-- here --><true/><key>a</key><false/></dict>"),
        "no-wrapper.plist": '<?xml version="1.0"?><string>no plist wrapper</string>',
        "empty-containers.plist": wrapped("<array><dict/><array/><string/><data></data></array>"),
    }
    for target in ("plist_read", "plist_roundtrip"):
        for name, data in examples.items():
            write(target, name, data)


# ---- system facts -----------------------------------------------------------------

def system_facts():
    examples = {
        "debian": 'PRETTY_NAME="Debian GNU/Linux 13"\nNAME="Debian GNU/Linux"\nVERSION_ID="13"\nID=debian\n',
        "bare.os-release": "NAME=Arch\nVERSION_ID=rolling\n",
        "single-quoted": "VERSION_ID='24.04'\n",
        "escaped": 'VERSION_ID="1\\"2\\\\3\\$x"\n',
        "unterminated": 'VERSION_ID="12.1\nID=x\n',
        "trailing-backslash": 'VERSION_ID="12\\"\n',
        "indented-twice": "  VERSION_ID=  7 \r\nVERSION_ID=8\n",
        "product-name": "ThinkPad X1 Carbon Gen 11  \n",
        "no-newline": "VERSION_ID=3",
        "binary": b"VERSION_ID=\"\xff\xfe\x00\"\n\x00\x01",
    }
    for name, data in examples.items():
        write("os_release", name, data)


# ---- the mouse ------------------------------------------------------------------

class Sbc(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_ulong), ("frequency", ctypes.c_uint8), ("blocks", ctypes.c_uint8),
                ("subbands", ctypes.c_uint8), ("mode", ctypes.c_uint8), ("allocation", ctypes.c_uint8),
                ("bitpool", ctypes.c_uint8), ("endian", ctypes.c_uint8), ("priv", ctypes.c_void_p),
                ("priv_alloc_base", ctypes.c_void_p)]


def sbc_frames(msbc, count):
    lib = ctypes.CDLL("libsbc.so.1")
    codec = Sbc()
    if (lib.sbc_init_msbc if msbc else lib.sbc_init)(ctypes.byref(codec), 0) != 0:
        sys.exit("libsbc would not start")
    samples = 120 if msbc else 128 * 2
    frames = []
    for n in range(count):
        pcm = b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 440 * (n * samples + i) / 16000)))
                       for i in range(samples))
        out = ctypes.create_string_buffer(512)
        written = ctypes.c_ssize_t(0)
        lib.sbc_encode.restype = ctypes.c_ssize_t
        lib.sbc_encode(ctypes.byref(codec), pcm, len(pcm), out, len(out), ctypes.byref(written))
        frames.append(out.raw[:written.value])
    lib.sbc_finish(ctypes.byref(codec))
    return frames


def mouse():
    replies = ["a55a08540458020000", "a55a08540b0102ff", "a55a09540672010000", "a55a0c5406a1b2c3d4e5f600",
               "a55a145406a1b2c3d4e5f6000000000000000400", "a55a145406540b0000000000000000000000000400",
               "a55a0754030c5406", "a55a070b1aa1", "a55a11540b4b5a3332204d6f757365010aff", "a55a085404e80300"]
    msbc = sbc_frames(True, 4)
    audio = [bytes.fromhex("9d0100") + frame + b"\x5a" for frame in msbc]
    report = lambda data: bytes([len(data)]) + data
    for i, hex_text in enumerate(replies):
        write("hid_report", f"reply-{i}", report(bytes.fromhex(hex_text)))
    write("hid_report", "identify-then-audio",
          b"".join(report(bytes.fromhex(h)) for h in replies[3:5]) + b"".join(map(report, audio)))
    write("msbc", "msbc-57", bytes([56]) + b"".join(msbc))
    write("msbc", "msbc-slots-58", bytes([57]) + b"".join(frame + b"\x5a" for frame in msbc))
    sbc = sbc_frames(False, 2)
    write("msbc", "sbc", bytes([len(sbc[0]) - 1]) + b"".join(sbc))

    # Over Bluetooth LE: the same replies on "AE52", and audio packets of
    # four 61-byte pieces on "AE42", whole or in parts.
    notification = lambda audio, data, error=False: bytes([int(audio) | int(error) << 1, len(data)]) + data
    for i, hex_text in enumerate(replies):
        write("ble_notification", f"reply-{i}", notification(False, bytes.fromhex(hex_text)))
    pieces = [(bytes.fromhex("9d0100") if i == 0 else bytes([0, 0, i])) + frame + b"\x5a" for i, frame in enumerate(msbc)]
    packet = b"".join(pieces)
    write("ble_notification", "identify-then-audio",
          b"".join(notification(False, bytes.fromhex(h)) for h in replies[3:5]) + notification(True, packet))
    write("ble_notification", "audio-in-parts",
          b"".join(notification(True, part) for part in pieces)
          + notification(True, packet[:100]) + notification(False, bytes.fromhex(replies[2]))
          + notification(True, packet[100:]) + notification(True, packet, True))


# ---- replies of services ----------------------------------------------------------

def scramble(plain, key=742):
    mask = key & 0xFF
    return "".join(f"{b ^ mask:02x}" for b in plain.encode()) + f"{mask:02x}"


def services():
    document = json.dumps({"cn_urlstr": "wss://iat.example/v2/iat", "iat_appid": "id-1", "iat_appkey": "key-1",
                           "azure_translate_url": "https://translate.example"}, separators=(",", ":"))
    backend = {
        "credentials": (0, {"errCode": 0, "data": scramble(document)}),
        "credentials-text-code": (0, {"errCode": "0", "data": scramble(document)}),
        "credentials-unknown": (0, {"errCode": "10404", "data": scramble(document)}),
        "credentials-not-json": (0, {"errCode": 0, "data": scramble("not json")}),
        "product": (1, {"code": 0, "errCode": 0, "data": {"country": "cn", "openkey": "k",
                                                           "product_model": {"product": "KZ32"}}}),
        "product-default": (1, {"code": 0, "errCode": 10002, "data": {"country": "id"}}),
        "product-none": (1, {"code": 0, "errCode": 10000}),
    }
    for name, (selector, reply) in backend.items():
        write("backend_reply", name, bytes([selector]) + json.dumps(reply, ensure_ascii=False).encode())
    write("backend_reply", "server-error", bytes([1 | 6 << 1]) + b"<html>busy</html>")

    session = [
        '{"code":0,"data":{"result":{"sn":1,"pgs":"apd","ws":[{"cw":[{"w":"你"}]},{"cw":[{"w":"好"}]}]}}}',
        '{"code":0,"data":{"result":{"sn":2,"pgs":"rpl","rg":[1,1],"ws":[{"cw":[{"w":"您好"}]}]}}}',
        '{"code":0,"data":{"result":{"sn":3,"ls":true,"pgs":"apd","ws":[{"cw":[{"w":"。"}]}]}}}',
    ]
    write("dictation_reply", "session", "\n".join(session))
    write("dictation_reply", "no-correction", '{"data":{"result":{"ws":[{"cw":[{"w":"a"}]}]}}}\n'
          '{"data":{"result":{"ls":true,"ws":[{"cw":[{"w":"b"}]}]}}}')
    write("dictation_reply", "error", '{"code":10165,"message":"invalid handle"}')
    write("dictation_reply", "odd-kinds", '{"data":{"result":{"ws":[7,{"cw":"x"},{"cw":[{"w":5}]},{"cw":[{"w":"ok"}]}],'
          '"ls":"true","pgs":"apd","rg":[3,1],"sn":"2"}}}\n{"code":0,"data":{"result":{"sn":1e300,"rg":[1,1e30]}}}')

    mainland = {
        "translated": (0, {"code": 0, "data": {"result": {"trans_result": {"dst": "hello", "src": "你好"}}}}),
        "service-error": (0, {"code": 10105, "message": "illegal access"}),
        "text-code": (0, {"code": "0", "data": {"result": {"trans_result": {"dst": 5}}}}),
        "http-error": (7, {"code": 500}),
    }
    for name, (status, reply) in mainland.items():
        write("translation_mainland", name, bytes([status]) + json.dumps(reply, ensure_ascii=False).encode())
    overseas = {
        "translated": (0, '[{"translations":[{"text":"first","to":"de"},{"text":"second","to":"de"}]},'
                          '{"translations":[{"text":"third","to":"de"}]}]'),
        "service-error": (4, '{"error":{"code":"400036","message":"m"}}'),
        "no-translations": (0, '[{"detectedLanguage":{"language":"en"}}]'),
        "empty": (0, '[{"translations":[]}]'),
    }
    for name, (status, body) in overseas.items():
        write("translation_overseas", name, bytes([status]) + body.encode())


# ---- wire messages ----------------------------------------------------------------

SCALARS = {"string": '"s\\303\\251"', "bytes": '"b"', "bool": "true", "int32": "-7", "int64": "-1000000007",
           "uint32": "4294967295", "uint64": "18446744073709551615", "float": "1.5", "double": "-2.25",
           "Number": "NUMBER_7", "sint32": "-3", "sint64": "-3", "fixed32": "5", "fixed64": "5"}


def schema():
    messages = {}
    for name, body in re.findall(r"^message (\w+) \{(.*?)^\}", PROTO.read_text(), re.S | re.M):
        messages[name] = re.findall(r"(optional|repeated) (\w+) (\w+) = \d+", body)
    return messages


def text_of(messages, name, depth):
    parts = []
    for label, kind, field in messages[name]:
        count = 2 if label == "repeated" else 1
        for _ in range(count):
            if kind in messages:
                if depth < 2:
                    parts.append(f"{field} {{ {text_of(messages, kind, depth + 1)} }}")
            else:
                parts.append(f"{field}: {SCALARS[kind]}")
    return " ".join(parts)


def encode(name, text):
    run = subprocess.run(["protoc", f"--encode=wire.{name}", "-I", str(PROTO_DIR), PROTO.name], input=text.encode(),
                         capture_output=True, cwd=PROTO_DIR)
    if run.returncode != 0:
        sys.exit(f"protoc cannot encode {name}: {run.stderr.decode()}")
    return run.stdout


def wire():
    messages = schema()
    names = sorted(messages)  # the target picks a type by its index in this order
    for index, name in enumerate(names):
        write("wire_messages", f"{name}-full", bytes([index]) + encode(name, text_of(messages, name, 0)))
        write("wire_messages", f"{name}-empty", bytes([index]))

    app = '"1:1234567890:linux:0a1b2c3d"'
    configs = {
        "settings": f'version: 3 vmp_app_id: {app} settings {{ name: "measurement.upload.max_bundles" value: "50" }} '
                    'settings { name: "measurement.upload.interval" value: "3600000" } '
                    'settings { name: "measurement.upload.realtime_upload_interval" value: "x" } '
                    'settings { name: "measurement.config.cache_time" value: "-1" }',
        "events": f'vmp_app_id: {app} event_config {{ name: "purchase" blocklisted: true sampling_rate: 5 }} '
                  'event_config { name: "_s" custom_conversion: true } data_controls { name: "dc" } '
                  'upload_subdomain: "eu" settings { name: "a" value: "1" }',
        "consent": f'vmp_app_id: {app} settings {{ name: "a" value: "1" }} consent_config {{ '
                   'defaults { consent_type: NUMBER_1 default_value: NUMBER_2 } '
                   'delegations { consent_type: NUMBER_3 } core_platform_services { name: "s" } '
                   'is_dma_region: true enforced_defaults { consent_type: NUMBER_4 default_value: NUMBER_1 } } '
                   'psm_setting { }',
        "everything": f'vmp_app_id: {app} ' + re.sub(r'vmp_app_id: "[^"]*"', "", text_of(messages, "MeasurementConfig", 0)),
    }
    for name, text in configs.items():
        write("remote_config", name, encode("MeasurementConfig", text))

    events = {
        "session-start": 'name: "_s" timestamp_millis: 1700000000000 params { name: "_o" string_value: "auto" } '
                         'params { name: "_sid" int_value: 1700000000 }',
        "purchase": 'name: "purchase" timestamp_millis: 1700000000000 previous_timestamp_millis: 1690000000000 '
                    'params { name: "_o" string_value: "app" } params { name: "value" double_value: 9.99 } '
                    'params { name: "currency" string_value: "EUR" } params { name: "items" param_value { '
                    'name: "item" param_value { name: "item_id" string_value: "sku" } } }',
        "no-origin": 'name: "e" params { name: "v" float_value: 1.5 }',
    }
    for name, text in events.items():
        write("event_blob", name, encode("Event", text))


# ---- stored consent ------------------------------------------------------------------

def value_text(text):
    data = text.encode()
    return bytes([5]) + struct.pack("<H", len(data)) + data


def small(number):
    return bytes([3, number & 0xFF])


def consent():
    dictionary = lambda *pairs: bytes([len(pairs)]) + b"".join(bytes([k, v]) for k, v in pairs)
    # Operation bytes: 0 explicit, 1 defaults, 2 delegated, 3 regional, 4 merge, 5 merge under a source.
    steps = {
        "granted-then-denied": bytes([0, 1]) + dictionary((0, 0), (1, 0)) + bytes([5]) + dictionary((0, 1)) + bytes([0]),
        "defaults-and-delegation": bytes([1, 1]) + dictionary((2, 1), (3, 0)) + bytes([2, 1]) + dictionary((2, 2))
        + bytes([3, 1]) + dictionary((0, 2)) + bytes([9, 1]),
        "info-dictionary": bytes([12]) + dictionary((4, 0), (5, 1), (6, 3), (7, 4)) + bytes([10, 11]),
    }
    for name, data in steps.items():
        write("consent", name, data)

    vendors = "".join("1" if i % 7 == 0 or i == 754 else "0" for i in range(1100))
    full = b"".join([bytes([0]), small(1), value_text(vendors), small(300 & 0xFF), small(1), small(4),
                     value_text("11111111111")])
    write("tcf", "full-consent", full + full)
    write("tcf", "policy-3-then-text-numbers", b"".join([bytes([0]), small(1), value_text(vendors), small(44), small(1),
                                                        small(3), value_text("1111")])
          + b"".join([small(0), value_text("1"), value_text(vendors[:700]), value_text("300"), value_text("1"),
                      value_text("4"), value_text("1011")]))


# ---- audience definitions ------------------------------------------------------

def audiences():
    configs = {
        "mixed": 'audiences { audience_id: 1 event_filters { filter_id: 0 event_name: "purchase" '
                 'filters { param_name: "value" number_filter { comparison_type: NUMBER_4 '
                 'min_comparison_value: "10" max_comparison_value: "50.5" } } '
                 'filters { param_name: "currency" string_filter { match_type: NUMBER_6 expression_list: "eur" '
                 'expression_list: "USD" } } event_count_filter { comparison_type: NUMBER_2 comparison_value: "2" } '
                 'session_scoped: true } '
                 'property_filters { filter_id: 1 property_name: "tier" filter { string_filter { '
                 'match_type: NUMBER_1 expression: "^g(o)+ld$" } complement: true } dynamic: true } } '
                 'audiences { audience_id: 2 event_filters { filter_id: 0 event_name: "level_up" sequence: true } '
                 'event_filters { filter_id: 64 event_name: "_f" filters { param_name: "price" number_filter { '
                 'comparison_type: NUMBER_3 comparison_value: "0.1" } } } }',
        "malformed-numbers": 'audiences { audience_id: 3 event_filters { filter_id: 0 event_name: "purchase" '
                             'filters { param_name: "value" number_filter { comparison_type: NUMBER_1 '
                             'comparison_value: "123456789012345678901234567890123456789012" } } '
                             'filters { param_name: "count" number_filter { comparison_type: NUMBER_7 '
                             'comparison_value: "1e5" } } } }',
    }
    for name, text in configs.items():
        write("audience_filters", name, bytes([0]) + encode("MeasurementConfig", text))
    record = ('status: 5 status: 0 results: 1 dynamic_filter_timestamps { filter_id: 2 timestamp_millis: 100 } '
              'sequence_filter_timestamps { filter_id: 7 eval_timestamps: 10 eval_timestamps: 30 }')
    write("audience_filters", "stored-record", bytes([1]) + encode("ResultData", record))
    flags = ('flags { name: "i" int_value: 7 } flags { name: "s" string_value: "blue" } '
             'flags { name: "d" double_value: 0.25 } flags { name: "b" bool_value: true }')
    responses = {
        "experiment-snapshots": f'snapshots {{ sdk_name: "app_metrics" experiments {{ experiment_id: 11 {flags} }} '
                                'experiments { experiment_id: 0 flags { name: "launched" int_value: 1 } } } '
                                'sdk_responses { sdk_name: "app_metrics" error_code: NUMBER_2 }',
        "experiment-sdk-responses": 'sdk_responses { sdk_name: "x" snapshot { sdk_name: "y" experiments { '
                                    'experiment_id: 4 flags { name: "f" } } } } sdk_responses { error_code: NUMBER_7 }',
    }
    for name, text in responses.items():
        write("audience_filters", name, bytes([2]) + encode("ExperimentResponse", text))


# ---- campaign addresses and deferred deep-link replies ------------------------

def campaigns():
    # The address, a newline, the reply body.
    write("campaign_url", "campaign-and-link",
          'pravik://open?utm_source=news&utm_medium=mail&utm_campaign=spring\n'
          '{"deeplink":"pravik://welcome","timestamp":12}')
    write("campaign_url", "every-key",
          "https://example.org/p?aclid=1&anid=2&cis=4&utm_content=5&cp1=6&dclid=d&vclid=v&vbraid=b&srsltid=s"
          "&utm_term=9&utm_id=10&utm_creative_format=11&utm_marketing_tactic=12&utm_source_platform=13"
          '&sfmc_id=14\n{"deeplink":"relative"}')
    write("campaign_url", "malformed-escapes", "pravik://open?utm_source=%zz&utm_medium=a+b%20c&utm_source=x&=&&utm_campaign\n{")
    write("campaign_url", "encodings", 'pravik://open?utm_source=%E2%9C%93%C3%28%00#utm_medium=m\n["pravik://x"]')


# ---- search-ad attribution replies and hashed user data ---------------------------

def search_ads():
    # A status selector byte (0: a success), then the reply body.
    attributed = ('{"attribution":true,"orgId":40669820,"campaignId":542370539,"conversionType":"Download",'
                  '"adGroupId":542317095,"countryOrRegion":"US","keywordId":87675432,"adId":542317136}')
    replies = {
        "attributed": (0, attributed),
        "test-answer": (0, '{"attribution":true,"campaignId":1234567890,"adId":1234567890,"keywordId":12323222}'),
        "not-attributed": (0, '{"attribution":false}'),
        "server-error": (7, '{"attribution":false}'),
        "empty": (0, "{}"),
    }
    for name, (status, body) in replies.items():
        write("search_ad_reply", name, bytes([status]) + body.encode())


def user_data():
    examples = {
        "email": "  Jane.Doe@Example.com ",
        "phone": "+1 (650) 555-1234",
        "phone-prefix": "0049 30 123456",
        "unicode": "MÜLLER@example.de",
    }
    for name, text in examples.items():
        write("user_data_hashing", name, text)


# ---- store receipts -------------------------------------------------------------

def der(tag, content):
    n = len(content)
    if n < 0x80:
        length = bytes([n])
    elif n <= 0xFF:
        length = bytes([0x81, n])
    else:
        length = bytes([0x82, n >> 8, n & 0xFF])
    return bytes([tag]) + length + content


def der_int(value):
    body = value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big", signed=True)
    return der(0x02, body)


def receipt_attribute(kind, value, version=1):
    return der(0x30, der_int(kind) + der_int(version) + der(0x04, value))


def receipt_record(product, tid, otid, date, kind, trial=None, intro=None, web=None):
    fields = [(1702, der(0x0C, product.encode())), (1703, der(0x0C, tid.encode())),
              (1705, der(0x0C, otid.encode())), (1704, der(0x16, date.encode())), (1707, der_int(kind))]
    if trial is not None:
        fields.append((1713, der_int(trial)))
    if intro is not None:
        fields.append((1719, der_int(intro)))
    if web is not None:
        fields.append((1711, der_int(web)))
    return receipt_attribute(17, der(0x31, b"".join(receipt_attribute(k, v) for k, v in fields)))


def receipts():
    version = receipt_attribute(19, der(0x0C, b"2.4.1"))
    records = [
        receipt_record("coins.100", "1000000011", "1000000011", "2024-03-01T10:00:00Z", 1),
        receipt_record("pro.monthly", "1000000021", "1000000021", "2024-02-01T10:00:00Z", 3, trial=1, web=7001),
        receipt_record("pro.monthly", "1000000022", "1000000021", "2024-03-01T10:00:00Z", 3, intro=1, web=7002),
    ]
    whole = der(0x30, version + b"".join(records))
    write("store_receipt", "subscriptions", whole)
    write("store_receipt", "version-only", der(0x30, version))
    write("store_receipt", "indefinite", b"\x30\x80" + version + records[0] + b"\x00\x00")
    write("store_receipt", "truncated", whole[:-7])
    # A one-byte length of 0x85 that is taken as the length itself.
    write("store_receipt", "long-length-byte",
          der(0x30, records[0] + bytes.fromhex("020206a602010104870c85") + b"p" * 0x85))


def main():
    if shutil.which("protoc") is None:
        sys.exit("protoc is needed")
    plists()
    system_facts()
    mouse()
    services()
    wire()
    consent()
    audiences()
    campaigns()
    search_ads()
    user_data()
    receipts()


if __name__ == "__main__":
    main()
