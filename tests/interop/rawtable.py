"""Byte-level view of a table file: enough to damage copies at known places."""

import struct

VFP_TYPES = (0x30, 0x31, 0x32)


class Field:
    def __init__(self, name, kind, offset, length):
        self.name = name
        self.type = kind
        self.offset = offset
        self.length = length


class RawTable:
    """A table file held in memory. Reads only well-formed headers (the baselines)."""

    def __init__(self, path):
        with open(path, 'rb') as f:
            self.data = bytearray(f.read())
        self.path = path
        self.fields = []
        offset = 1
        at = 32
        while self.data[at] != 0x0D:
            block = self.data[at:at + 32]
            name = block[:11].split(b'\0', 1)[0].decode('ascii')
            kind = chr(block[11])
            length = block[16] + (block[17] << 8 if kind == 'C' else 0)
            self.fields.append(Field(name, kind, offset, length))
            offset += length
            at += 32

    @property
    def table_type(self):
        return self.data[0]

    @property
    def record_count(self):
        return struct.unpack_from('<I', self.data, 4)[0]

    @record_count.setter
    def record_count(self, value):
        struct.pack_into('<I', self.data, 4, value)

    @property
    def header_length(self):
        return struct.unpack_from('<H', self.data, 8)[0]

    @property
    def record_length(self):
        return struct.unpack_from('<H', self.data, 10)[0]

    def field(self, name):
        for f in self.fields:
            if f.name.lower() == name.lower():
                return f
        raise KeyError(name)

    def record_offset(self, index):
        return self.header_length + index * self.record_length

    def record(self, index):
        at = self.record_offset(index)
        return bytes(self.data[at:at + self.record_length])

    def set_record(self, index, image):
        assert len(image) == self.record_length
        at = self.record_offset(index)
        self.data[at:at + self.record_length] = image

    def set_flag(self, index, flag):
        self.data[self.record_offset(index)] = flag

    def field_bytes(self, index, name):
        f = self.field(name)
        at = self.record_offset(index) + f.offset
        return bytes(self.data[at:at + f.length])

    def set_field_bytes(self, index, name, value):
        f = self.field(name)
        assert len(value) == f.length, (name, value)
        at = self.record_offset(index) + f.offset
        self.data[at:at + f.length] = value

    def save(self, path=None):
        with open(path or self.path, 'wb') as f:
            f.write(self.data)
