"""The simulated board's folder as the black-box tests of uboot-eeprom see it: the EEPROM words
(eeprom.bin, two bytes a word, little-endian), the driver's request log (requests.log) and the
kernel's layer files as a statically linked tool finds them under qemu-arm with the folder as its
root (proc/eeprom/), with variable images built here with zlib's CRC-32."""
import os
import struct
import zlib

USER_AREA = 0x2000
EEPROM_WORDS = USER_AREA + (8 + 16384) // 2

USAGE = (
    "Usage: uboot [opts] cmd [cmd_args]\n"
    "Where opts can be:\n"
    "   -v                    -- Log messages\n"
    "   -l level              -- Variables level: \n"
    "                            0 - All. First from userspace, if not found - from defaults (by default)\n"
    "                            1 - Userspace only\n"
    "                            2 - Defaults only\n"
    "Where cmd can be:\n"
    "   set [{name} {value}]  -- Set var {name} to {value}\n"
    "   get [{name}]          -- Get var named {name}\n"
    "   list                  -- Get list of all vars\n")

VERIFY_FAILED = "*** ERROR: EEPROM Save: Failed to write the data, Verify Read failed\n"

# What the simulated board's factory layer holds (sim/boarddrv/eeprom_store.cc).
FACTORY = ["bootdelay=3", "baudrate=115200", "ipaddr=10.0.1.100", "serverip=10.0.1.1",
           "netmask=255.255.255.0", "serialno=QV4N150101000", "ethaddr=02:1b:4d:00:00:01",
           "bootcmd=run bootmmc", "factoryonly=yes"]

USER = ["bootdelay=7", "ipaddr=192.168.1.5", "serialno=QV4N150101042", "noequals", "useronly=u"]


def image(entries, size=None, crc=None):
    data = b"".join(e.encode() + b"\0" for e in entries) + b"\0"
    size = len(data) if size is None else size
    crc = zlib.crc32(data) if crc is None else crc
    return struct.pack("<II", size, crc) + data


def entries_of(data):
    """The entries of image data as the store walk sees them."""
    result, p = [], 0
    while p < len(data) - 1:
        end = data.index(b"\0", p)
        result.append(data[p:end].decode())
        p = end + 1
    return result


class Board:
    def __init__(self, folder):
        self.folder = folder
        self.store = os.path.join(folder, "eeprom.bin")
        self.log = os.path.join(folder, "requests.log")
        with open(self.store, "wb") as f:
            f.write(b"\xff" * (EEPROM_WORDS * 2))
        self.layers = os.path.join(folder, "proc", "eeprom")
        os.makedirs(self.layers)
        self.put_layer_file("defaults", image(FACTORY))

    def put_layer_file(self, name, raw):
        with open(os.path.join(self.layers, name), "wb") as f:
            f.write(raw)

    def put_image(self, raw):
        self.put_layer_file("userspace", raw)
        with open(self.store, "r+b") as f:
            f.seek(USER_AREA * 2)
            f.write(raw + (b"\0" if len(raw) % 2 else b""))
        self.clear_log()

    def user_bytes(self, count):
        with open(self.store, "rb") as f:
            f.seek(USER_AREA * 2)
            return f.read(count)

    def user_image(self):
        """(size, crc, data) as the EEPROM words hold them, checked against zlib."""
        size, crc = struct.unpack("<II", self.user_bytes(8))
        data = self.user_bytes(8 + size)[8:]
        return size, crc, data

    def words(self):
        with open(self.store, "rb") as f:
            return f.read()

    def clear_log(self):
        if os.path.exists(self.log):
            os.remove(self.log)

    def requests(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().splitlines()

    def commands(self):
        """(device, word) of every request 0x10."""
        result = []
        for line in self.requests():
            if line.startswith("command "):
                _, device, word, _, _ = line.split()
                result.append((int(device, 16), int(word, 16)))
        return result
