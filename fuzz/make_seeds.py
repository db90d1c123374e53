#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/ from the sample
recordings, the plug-in's resources, the language files and cases of the
tests. Seeds are kept small (the head of each recording): libFuzzer grows
inputs itself, and the whole lot stays far below a megabyte."""
import pathlib, shutil

root = pathlib.Path(__file__).resolve().parent.parent
corpus = root / "fuzz" / "corpus"
samples = root / "samples"


def put(target, name, data):
    folder = corpus / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode())


def records(qcp, limit):
    """The packets from byte 194 as 24-byte records (vocrate's byte rule)."""
    sizes = {4: 22, 3: 10, 2: 5, 1: 2}
    out, pos = bytearray(), 194
    while pos < len(qcp) and len(out) < limit * 24:
        rate = qcp[pos]; pos += 1
        n = sizes.get(rate)
        if n is None:
            if pos == len(qcp): break
            n = 0
        rec = bytearray(24); rec[0] = rate
        for i in range(n):
            if pos >= len(qcp): break
            rec[2 + 2 * (i // 2) + (1 if i % 2 == 0 else 0)] = qcp[pos]; pos += 1
        out += rec
    return bytes(out)


shutil.rmtree(corpus, ignore_errors=True)
for sample in sorted(samples.iterdir()):
    data = sample.read_bytes()
    put("qcp_to_evrc", sample.stem + ".qcp", data[:194 + 1200])
    put("evrc_to_qcp", sample.stem + ".evrc", records(data, 40))
    put("decoder", sample.stem + ".evrc", records(data, 25))
# A file of every kind of packet, an unknown octet and the pad byte.
put("qcp_to_evrc", "kinds.qcp", bytes(194) + bytes([4] + [7] * 22 + [3] + [6] * 10 + [2] + [5] * 5
                                                  + [1, 0xFF, 0xFF] + [9, 0, 0, 1, 2] + [1, 3]))
put("evrc_to_qcp", "unknown_rate.evrc", bytes([4, 1] + [0] * 22 + [1, 0, 0xFF, 0xFF] + [0] * 20
                                              + [1, 2, 3]))


def qcp_file(guid, name, packets, before=(), after=()):
    """A QCP file: fmt (150 bytes, the codec's GUID and name), vrat, the
    chunks `before`, data, the chunks `after`; each chunk (id, payload)."""
    def chunk(cid, payload):
        return cid + len(payload).to_bytes(4, "little") + payload + (b"\0" if len(payload) % 2 else b"")
    fmt = bytes([1, 0]) + guid + (2).to_bytes(2, "little") + name.ljust(80, b"\0")
    fmt = fmt.ljust(150, b"\0")
    body = b"QLCM" + chunk(b"fmt ", fmt) + chunk(b"vrat", (1).to_bytes(4, "little") + (9).to_bytes(4, "little"))
    for c in before: body += chunk(*c)
    body += chunk(b"data", packets)
    for c in after: body += chunk(*c)
    return b"RIFF" + len(body).to_bytes(4, "little") + body


qcelp1 = bytes.fromhex("416d7f5e15b1d011ba9100805fb4b97e")
evrc = bytes.fromhex("8dd489e67690b54691ef736a5100ceb4")
smv = bytes.fromhex("752b7c8d97a749ed985ed53c8cc75f84")
fourgv = bytes.fromhex("ca29fd3c53f6f54e90e9f4236d599b61")
# Every kind of QCELP packet: speech of each rate, blank, erasure, an octet
# of no rate, the eighth-rate FF FF mark, a last packet cut short.
kinds = (bytes([4]) + bytes(range(34)) + bytes([3]) + bytes(range(16)) + bytes([2]) + bytes(range(7))
         + bytes([1, 1, 2, 3, 0, 14, 5, 1, 0xFF, 0xFF, 0, 4, 9, 9]))
put("qcelp_decoder", "kinds", b"\0" + kinds)
put("qcelp_decoder", "tagged.qcp", b"\1" + qcp_file(qcelp1, b"Qcelp 13K", kinds[:-3],
                                                   [(b"labl", b"memo")], [(b"text", b"note")]))
put("qcelp_decoder", "evrc.qcp", b"\1" + (samples / "greeting.qcp").read_bytes()[:400])
put("qcp_tags", "tags.qcp", qcp_file(qcelp1, b"Qcelp 13K", kinds, [(b"labl", b"Meeting 2009-03-01\0\0")],
                                      [(b"text", "Voice memo from 张三".encode())]))
put("qcp_tags", "cut.qcp", qcp_file(evrc, b"", b"\4" * 23, [(b"text", b"first"), (b"text", b"second")])
    + b"labl\xff\xff\0\0cut")
for name, guid, text in [("evrc", evrc, b"TIA IS-127 Enhanced Variable Rate Codec, Speech Service Option 3 "),
                         ("qcelp", qcelp1, b"Qcelp 13K"), ("smv", smv, b""), ("4gv", fourgv, b""),
                         ("named", bytes(16), b"  EVRC-B\t4GV \x01"), ("other", bytes(16), b"Acme Voice 2")]:
    put("qcp_codec", name + ".qcp", qcp_file(guid, text, b"\1\xff\xff"))

put("xml_reader", "settings.xml", (root / "plugin/resources/WavrelPluginSet.xml").read_bytes())
for i, text in enumerate([
        "<r><!-- <x/> --><?pi <y/> ?><![CDATA[<z/>]]><c/></r>",
        "<root><item>1</item><Item>x</Item><item>2</item></root>",
        "<r><p name=\"a/b\" id='2' flag = \"\" /><q one=\"1\"></q><e/></r>",
        "<!DOCTYPE x [<!ENTITY a 'b'>]><converwavset><property name=\"rate\">&#49;6000"
        "</property><property name='x'><![CDATA[ 11025 ]]></property></converwavset>",
        "<a><b><c><d>&lt;&amp;&gt;&quot;&apos;&#x4e2d;</d></c></b></a>",
]):
    put("xml_reader", "case%d.xml" % i, text)

put("gif_walker", "process.gif", (root / "plugin/resources/process.gif").read_bytes())
put("gif_walker", "static.gif", (root / "plugin/resources/static.gif").read_bytes())

for lang in ("en", "zh_CN"):
    put("ini_locale", lang + ".ini", (root / "host/language/lang" / (lang + ".ini")).read_bytes())
put("ini_locale", "problems.ini", "; c\n# c\nkey=outside\n[A]\nx = a\\n\\t\\\\b \\q\nx = dup\n[bad\n=v\nnoeq\n"
    "[B]\r\nk = tail\\\r\n")

# First byte: the code page's index in the target's list (0 UTF-8, 2 GBK, 3 CP1252).
for i, case in enumerate([b"\0greeting.qcp", b"\0" + "通话 录音.qcp".encode(), b"\2\xd6\xd0\xce\xc4",
                          b"\3caf\xe9", b"\0bad\xff\xfeutf8", b"\0\xed\xa0\x80x"]):
    put("code_page", "case%d" % i, case)

for i, argv in enumerate([["convert", "samples", "out"], ["convert", "--yes", "--lang", "zh_CN", "--", "-in", "./a/../b/"],
                          ["--help"], ["convert", "--lang=en", "in\nname\x7f\xc2\x85\\"], ["-x"]]):
    put("console_args", "case%d" % i, "\0".join(argv).encode("utf-8", "surrogateescape"))
