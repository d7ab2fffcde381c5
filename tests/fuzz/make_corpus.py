#!/usr/bin/env python3
"""Writes the fuzz harnesses' seed corpora (tests/fuzz/corpus/<harness>/): small inputs in each
harness's input format that reach its main paths. Run it again after changing a harness's input
format; the files it writes are committed. The model and drive INI samples are copied from data/.
"""
import os
import shutil
import hashlib
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CORPUS = os.path.join(HERE, "corpus")

# The program's block marker: 14 printable characters and a NUL.
MARKER = b"{odflash:data}\x00"
STORE_MARKER = b"{odflash:code}\x00"
STORE_LENGTH = 5606
RECORD_MARKER = b"{odflash:seal}\x00"
RECORD_VERSION = 1
HEADER_LENGTH = 137
IMAGE_CAPACITY = 0x80000


def write(harness, name, data):
    folder = os.path.join(CORPUS, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def field(text, width=25):
    data = text.encode("latin-1")[: width - 1]
    return data + b"\x00" * (width - len(data))


def header(model="CDRW 48X24", inquiry="ODSIM   CDRW 48X24", fw_range="1.00-1.99",
           vendor="ODSim", note="CD-RW new-format image", revision=b"1.10.", length=64):
    inquiry = inquiry.ljust(24)[:24]
    data = field(model) + field(inquiry) + field(fw_range) + field(vendor) + field(note)
    data += revision[:5].ljust(5, b"\x00") + b"\x00" * 3 + struct.pack("<I", length)
    assert len(data) == HEADER_LENGTH
    return data


def image(length):
    # 8051 code starts with a long jump; the rest is a pattern.
    body = bytes((i * 37 + 11) & 0xFF for i in range(length))
    return (b"\x02\x40\x00" + body)[:length]


PREFIX = b"\x7fELF\x02\x01\x01" + bytes(range(0x20, 0x60))


def payload_file():
    flasher = PREFIX + MARKER + header() + image(64) + b"trailer" * 4
    write("payload_file", "flasher_small", b"\x00" + flasher)
    builder = PREFIX + MARKER + b"\x00" * HEADER_LENGTH + b"RUSK" + b"\x00" * 28
    write("payload_file", "builder_block", b"\x00" + builder)
    write("payload_file", "header_cut_short", b"\x00" + PREFIX + MARKER + header()[:60])
    write("payload_file", "length_too_long", b"\x00" + MARKER + header(length=0x100000) + image(16))
    write("payload_file", "image_cut_short", b"\x00" + MARKER + header(length=200) + image(50))
    # A near miss right before the marker: the mismatching '{' is not tried again as a first
    # marker byte, so this file holds no block.
    write("payload_file", "near_miss", b"\x00" + MARKER[:12] + MARKER + header() + image(64))
    write("payload_file", "flash_all_any", b"\x00" + MARKER +
          header(inquiry="--any drive--", fw_range="-----", note="FLASH-ALL", length=8) + image(8))
    # A whole block: 65 * 8 KiB zeros put after the header make the image region complete, and
    # the length announces the whole region.
    full = MARKER + header(length=IMAGE_CAPACITY) + b"\x02\x40\x00\x12"
    position = len(MARKER) + HEADER_LENGTH + 4
    # A sealed flasher: the store and record blocks before the payload block, the record holding
    # the SHA-256 of the header, the image and the store; and the same flasher with a flipped
    # image byte, and with an empty record.
    store = bytes((i * 13 + 5) & 0xFF for i in range(STORE_LENGTH))
    digest = hashlib.sha256(header() + image(64) + store).digest()
    def sealed(record, flip=0):
        img = bytearray(image(64))
        img[10] ^= flip
        return (b"\x00" + PREFIX + STORE_MARKER + store + RECORD_MARKER + record + MARKER + header() +
                bytes(img) + b"trailer")
    write("payload_file", "sealed", sealed(bytes([RECORD_VERSION]) + digest))
    write("payload_file", "sealed_flipped", sealed(bytes([RECORD_VERSION]) + digest, flip=1))
    write("payload_file", "sealed_empty", sealed(b"\x00" * 33))
    write("payload_file", "full_region", bytes([0x80 | 65]) + struct.pack("<H", position) + full)


def writer_input(flags, firmware, adjustment, program, name=b"1.10.BIN",
                 texts=("CDRW 48X24", "ODSIM   CDRW 48X24", "1.00-1.99", "ODSim", "note")):
    data = bytes([flags]) + struct.pack("<H", len(firmware)) + firmware
    for text in texts:
        encoded = text.encode("latin-1")
        data += bytes([len(encoded)]) + encoded
    data += bytes([len(name)]) + name + bytes([adjustment]) + program
    return data


def flasher_writer():
    program = PREFIX + MARKER + b"after the region"
    # Adjustment 128: exactly a header and a whole image region after the marker.
    write("flasher_writer", "builds", writer_input(2, image(64), 128, program))
    write("flasher_writer", "region_one_short", writer_input(2, image(64), 127, program))
    write("flasher_writer", "firmware_fills_region", writer_input(3, image(16), 128, program))
    write("flasher_writer", "firmware_too_long", writer_input(3, image(16), 129, program))
    write("flasher_writer", "builder_tag_firmware", writer_input(2, b"RUSK" + image(12), 128, program))
    write("flasher_writer", "no_model", writer_input(6, image(64), 128, program))
    write("flasher_writer", "no_marker", writer_input(2, image(64), 128, PREFIX * 2))
    write("flasher_writer", "long_texts", writer_input(2, image(32), 200, program, name=b"k4p5.bin",
                                                      texts=("M" * 30, "V" * 19, "R" * 26, "v" * 25, "FLASH-ALL")))


def model_ini():
    shutil.copy(os.path.join(ROOT, "data", "models.ini"), os.path.join(CORPUS, "model_ini", "models.ini"))
    complete = ("[MODEL00]\r\nModel=CDRW\r\nInquiry=ODSIM   CDRW\r\nFW-Range=1.00-1.99\r\n"
                "BINMask=*.BIN\r\nVendor=ODSim\r\nNote=\"quoted note\"\r\n")
    write("model_ini", "crlf_quoted", complete.encode())
    write("model_ini", "missing_note", (complete + "[model01]\nmodel=X\ninquiry=Y\nfw-range=1-2\n"
                                        "binmask=*.*\nvendor=V\n").encode())
    write("model_ini", "fail_value", complete.replace("Note=\"quoted note\"", "Note=FAIL").encode())
    write("model_ini", "gap", complete.replace("MODEL00", "MODEL01").encode())
    write("model_ini", "odd_lines", b"key before=section\r[ MODEL00 ]\rModel\rModel = 'x'\r"
                                    b"Model=second\n  Inquiry  =  a  \n[MODEL00\n=\n")


def sim_config():
    shutil.copy(os.path.join(ROOT, "data", "sim", "drives.ini"), os.path.join(CORPUS, "sim_config", "drives.ini"))
    write("sim_config", "every_key", b"""[Drive0]
Vendor=ODSIM
Product=CDRW 4X
Revision=1.00
FlashId=C2A70000
BecomingReadyPolls=3
NeverReady=0
Medium=1
Letter=e
FailCommand=3B:5:04 08 00, *:9:02 3A 00
DropCommand=3C:2
StatusCommand=3B:7:08
TimeoutCommand=3B:7 ; comment
SenseFormat=descriptor
DeviceType=05
InquiryLength=36
CorruptReadAt=0x4000
FailCommit=03 0C 00
LatencyMicroseconds=0
BusBytesPerSecond=0
[drive1]
Medium=1
""")
    write("sim_config", "bad_value", b"[Drive0]\nFlashId=C2A7000G\n")
    write("sim_config", "wrong_section", b"[Drive0]\n[Drive2]\n")


def cdb(*data):
    return bytes(data) + b"\x00" * (12 - len(data))


def command(block, direction, length, sent=b""):
    return block + bytes([direction]) + struct.pack("<H", length) + sent


def sim_commands():
    config = bytes([0x01, 0x00, 0x05, 36]) + bytes.fromhex("C2A70000")
    inquiry = command(cdb(0x12, 0, 0, 0, 96), 1, 96)
    ready = command(cdb(0x00), 2, 0)
    load = command(cdb(0x1B, 0, 0, 0, 0x03), 2, 0)
    flash_id = command(cdb(0xDF, 0x11), 1, 128)
    chunk = image(256)
    write_data = command(cdb(0x3B, 0x05, 0x01, 0, 0, 0, 0, 0x01, 0x00, 0x00), 0, 256, chunk)
    critical = command(cdb(0x3B, 0x05, 0x01, 0x08, 0, 0, 0, 0, 0, 0x7F), 2, 0)
    commit = command(cdb(0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x80), 2, 0)
    read_back = command(cdb(0x3C, 0x01, 0x01, 0, 0, 0, 0, 0x01, 0x00), 1, 256)
    eeprom = command(cdb(0xDF, 0x0A, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56), 2, 0)
    write("sim_commands", "identify", config + inquiry + ready + load + ready + flash_id)
    write("sim_commands", "update", config + write_data + read_back + critical + commit + inquiry + eeprom)
    # Descriptor sense, a fault on the second WRITE BUFFER and a corrupt read.
    faulty = bytes([0x01 | 0x04 | 0x08 | 0x20, 0x02, 0x05, 255]) + b"\x00" * 4 + struct.pack("<I", 0x10)[:3]
    faulty += bytes([0x3B, 1, 0, 0x04, 0x08, 0x00, 0x02])
    write("sim_commands", "faults", faulty + write_data + write_data + read_back + ready + ready)
    # A whole-memory read: 0x9000 * 16 bytes.
    whole = command(cdb(0x3C, 0x01, 0x01, 0, 0, 0, 0x09, 0x00, 0x00), 1 | 0x0C, 0x9000)
    write("sim_commands", "whole_memory", config + whole)


def sense_outcome():
    def sg(flags, error, status, host, driver, residual, sense):
        error_byte = bytes([error]) if flags & 1 else b""
        return (bytes([flags]) + error_byte + bytes([status]) + struct.pack("<HHi", host, driver, residual) +
                bytes([len(sense)]) + sense)

    fixed = bytes([0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0])
    descriptor = bytes([0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0])
    outcome = bytes([0x03, 0x00]) + b"\x00" * 8 + bytes([0x02, 0x05, 0x24, 0x00])
    write("sense_outcome", "check_fixed", sg(0, 0, 2, 0, 0x08, 0, fixed) + outcome + fixed)
    write("sense_outcome", "check_descriptor", sg(0, 0, 2, 0, 0x08, 0, descriptor) + outcome + descriptor)
    write("sense_outcome", "good_residual", sg(0, 0, 0, 0, 0, 512, b"") + outcome)
    write("sense_outcome", "host_timeout", sg(0, 0, 0, 0x03, 0x06, 0, b"") + bytes([1, 1]) + b"\x00" * 12)
    write("sense_outcome", "ioctl_error", sg(1, 4, 0, 0, 0, 0, b"") + outcome + fixed[:13])


if __name__ == "__main__":
    for harness in ("payload_file", "flasher_writer", "model_ini", "sim_config", "sim_commands", "sense_outcome"):
        shutil.rmtree(os.path.join(CORPUS, harness), ignore_errors=True)
        os.makedirs(os.path.join(CORPUS, harness))
    payload_file()
    flasher_writer()
    model_ini()
    sim_config()
    sim_commands()
    sense_outcome()
