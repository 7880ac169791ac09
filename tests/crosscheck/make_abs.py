#!/usr/bin/env python3
"""Writes embedded database files from scratch, byte by byte, together with the content a
reader must deliver for them: `tables` output and JSON Lines per table.

This writer shares no code with the C++ reader; it lays out every structure itself (file
header, check block, lock area, object-ID counter, free-space map pages, system directory,
connection slots, table list, metadata and state files, table-lock files, record pages,
page-index B-trees, BLOB pages) so that the reader can be checked against an independent
reading of the format.

Usage: make_abs.py OUTDIR   -> OUTDIR/*.abs, OUTDIR/*.expected/, OUTDIR/manifest.json
"""

import base64
import bz2
import datetime
import json
import math
import os
import random
import struct
import sys
import zlib
from fractions import Fraction

import edb_crypto

FILE_SIGNATURE = bytes([0x41, 0x42, 0x53, 0x30, 0x4C, 0x55, 0x54, 0x45,
                        0x44, 0x41, 0x54, 0x41, 0x42, 0x41, 0x53, 0x45])
PAGE_MAGIC = bytes([0x41, 0x42, 0x53, 0x50])
HEADER_LEN = 76
CHECK_LEN = 280
LOCK_LEN = 20
PAGE_HDR = 40
MAX_CONNECTIONS = 500

PT_EAM, PT_PFS, PT_SYSDIR, PT_SLOTS, PT_TABLELIST = 2, 3, 4, 5, 6
PT_TABLELOCKS, PT_METADATA, PT_STATE, PT_RECORD, PT_BLOB, PT_INDEX = 7, 8, 9, 10, 11, 12

DAY_1899_12_30 = 693594
MS_PER_DAY = 86400000


def engine_crc(data):
    """Reflected CRC-32 register started at 0, no final inversion."""
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def i8(v): return struct.pack('<b', v)
def u8(v): return struct.pack('<B', v)
def i16(v): return struct.pack('<h', v)
def u16(v): return struct.pack('<H', v)
def i32(v): return struct.pack('<i', v)
def u32(v): return struct.pack('<I', v)
def i64(v): return struct.pack('<q', v)


# ---------------------------------------------------------------- field types

class FT:
    """(advanced type, base type) of the declared SQL types."""
    CHAR = (1, 1); VARCHAR = (2, 3); WIDECHAR = (3, 2); WIDESTRING = (4, 4)
    SHORTINT = (5, 5); SMALLINT = (6, 6); INTEGER = (7, 7); LARGEINT = (8, 8)
    BYTE = (9, 9); WORD = (10, 10); CARDINAL = (11, 11)
    AUTOINC = (12, 7); AUTOINCSHORTINT = (13, 5); AUTOINCSMALLINT = (14, 6)
    AUTOINCINTEGER = (15, 7); AUTOINCLARGEINT = (16, 8); AUTOINCBYTE = (17, 9)
    AUTOINCWORD = (18, 10); AUTOINCCARDINAL = (19, 11)
    SINGLE = (20, 12); FLOAT = (21, 13); EXTENDED = (22, 14); LOGICAL = (23, 21)
    CURRENCY = (24, 22); DATE = (25, 15); TIME = (26, 16); DATETIME = (27, 17)
    TIMESTAMP = (28, 17); BLOB = (31, 18); GRAPHIC = (32, 18); MEMO = (33, 19)
    FORMATTEDMEMO = (34, 19); WIDEMEMO = (35, 20); GUID = (36, 1)


def stored_size(base, size):
    fixed = {5: 1, 6: 2, 7: 4, 8: 8, 9: 1, 10: 2, 11: 4, 12: 4, 13: 8, 14: 10, 15: 4, 16: 4,
             17: 8, 18: 6, 19: 6, 20: 6, 21: 2, 22: 8}
    if base in (1, 3, 23, 24):
        return size + 1
    if base in (2, 4):
        return 2 * (size + 1)
    return fixed[base]


SQL_NAMES = {1: 'CHAR', 2: 'STRING', 3: 'WIDECHAR', 4: 'WIDESTRING', 5: 'SHORTINT',
             6: 'SMALLINT', 7: 'INTEGER', 8: 'LARGEINT', 9: 'BYTE', 10: 'WORD', 11: 'CARDINAL',
             12: 'AUTOINC', 13: 'AUTOINCSHORTINT', 14: 'AUTOINCSMALLINT', 15: 'AUTOINCINTEGER',
             16: 'AUTOINCLARGEINT', 17: 'AUTOINCBYTE', 18: 'AUTOINCWORD', 19: 'AUTOINCCARDINAL',
             20: 'SINGLE', 21: 'FLOAT', 22: 'EXTENDED', 23: 'LOGICAL', 24: 'CURRENCY',
             25: 'DATE', 26: 'TIME', 27: 'DATETIME', 28: 'TIMESTAMP', 29: 'BYTES',
             30: 'VARBYTES', 31: 'BLOB', 32: 'GRAPHIC', 33: 'MEMO', 34: 'FORMATTEDMEMO',
             35: 'WIDEMEMO', 36: 'GUID'}


class Field:
    def __init__(self, name, ftype, size=0, blob=(0, 0, 102400), oid=0, default=None,
                 autoinc=(1, 0, 0, 9223372036854775807, 0)):
        self.name = name
        self.adv, self.base = ftype
        self.size = size if ftype != FT.GUID else 38
        self.blob = blob          # algorithm, mode, block size
        self.oid = oid
        self.default = default    # None or raw bytes of a typed value of this base type
        self.autoinc = autoinc    # increment, initial, min, max, cycled

    def is_blob(self):
        return 18 <= self.base <= 20

    def stream(self):
        nm = self.name.encode('cp1252')
        out = u8(len(nm)) + nm + i32(self.oid) + u8(self.base) + u8(self.adv) + i32(self.size)
        if self.is_blob():
            out += u8(self.blob[0]) + u8(self.blob[1]) + i32(self.blob[2])
        inc, init, mn, mx, cyc = self.autoinc
        out += i64(inc) + i64(init) + i64(mn) + i64(mx) + u8(cyc)
        if self.default is None:
            out += u8(self.base) + u8(255)
        else:
            out += u8(self.base) + u8(0) + i32(len(self.default)) + self.default
        return out


# ---------------------------------------------------------------- value encoding

def ext80(fr):
    """x87 80-bit extended of an exact rational, rounded half-even to 64 mantissa bits.
    Returns (10 bytes, the double a reader must round it to)."""
    if fr == 0:
        return bytes(10), 0.0
    sign = 1 if fr < 0 else 0
    x = abs(fr)
    e = x.numerator.bit_length() - x.denominator.bit_length()
    while x >= Fraction(2) ** (e + 1):
        e += 1
    while x < Fraction(2) ** e:
        e -= 1
    scaled = x * Fraction(2) ** (63 - e)
    m = scaled.numerator // scaled.denominator
    rem = scaled - m
    if rem > Fraction(1, 2) or (rem == Fraction(1, 2) and m & 1):
        m += 1
    if m == 1 << 64:
        m >>= 1
        e += 1
    raw = struct.pack('<QH', m, (sign << 15) | (e + 16383))
    value = Fraction(m) * Fraction(2) ** (e - 63)
    try:
        return raw, float(-value if sign else value)
    except OverflowError:
        return raw, None  # beyond double: not a finite number, handed out as null


def day_number(d):
    return d.toordinal()  # 0001-01-01 is 1


def iso_from_day_ms(day, ms):
    """Calendar text of a stored (day, ms) pair by the serial-day rule: the serial value
    v = (day - 693594) + ms / 86400000; its integer part is the date, |fraction| the time."""
    v = Fraction(day - DAY_1899_12_30) + Fraction(ms, MS_PER_DAY)
    whole = int(v)  # toward zero
    frac_ms = abs(v - whole) * MS_PER_DAY
    frac_ms = int(frac_ms + Fraction(1, 2))
    date = datetime.date(1899, 12, 30) + datetime.timedelta(days=whole)
    if frac_ms >= MS_PER_DAY:
        frac_ms -= MS_PER_DAY
        date += datetime.timedelta(days=1)
    return date.isoformat(), hms(frac_ms)


def hms(ms):
    return '%02d:%02d:%02d.%03d' % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)


def encode_value(f, v, rnd):
    """Stored bytes of one non-NULL value, and the JSON value a reader must hand out.
    BLOB fields are handled by the caller."""
    b = f.base
    if b in (1, 3):
        if isinstance(v, bytes):
            raw, text = v, v.split(b'\0')[0][:f.size].decode('cp1252')
        else:
            raw, text = v.encode('cp1252'), v
        assert len(raw) <= f.size
        # bytes after the terminator carry no meaning: fill them with noise
        pad = bytes(rnd.randrange(1, 256) for _ in range(f.size - len(raw)))
        return raw + b'\0' + pad, text
    if b in (2, 4):
        raw = v.encode('utf-16-le')
        assert len(raw) // 2 <= f.size
        pad = bytes(rnd.randrange(1, 256) for _ in range(2 * f.size - len(raw)))
        return raw + b'\0\0' + pad, v
    ints = {5: '<b', 6: '<h', 7: '<i', 8: '<q', 9: '<B', 10: '<H', 11: '<I'}
    if b in ints:
        raw = struct.pack(ints[b], v)
        if f.adv == 19:  # an autoinc cardinal is handed out as a signed 32-bit integer
            return raw, struct.unpack('<i', raw)[0]
        return raw, v
    if b == 12:
        raw = struct.pack('<f', v)
        back = struct.unpack('<f', raw)[0]
        return raw, back if math.isfinite(back) else None
    if b in (13, 22):
        return struct.pack('<d', v), v if math.isfinite(v) else None
    if b == 14:
        return ext80(v)
    if b == 21:
        return struct.pack('<H', v), v != 0
    if b == 15:
        return i32(v), (datetime.date(1, 1, 1) + datetime.timedelta(days=v - 1)).isoformat()
    if b == 16:
        return i32(v), hms(v)
    if b == 17:
        day, ms = v
        d, t = iso_from_day_ms(day, ms)
        return i32(day) + i32(ms), d + 'T' + t
    raise ValueError(b)


# ---------------------------------------------------------------- B-tree pages

def btree_page(is_root, is_leaf, prev, nxt, items, value_size):
    out = u8(1 if is_root else 0) + u8(1 if is_leaf else 0) + i32(prev) + i32(nxt)
    out += u8(1 if is_root else 0) + u8(0) + u16(4) + u16(len(items)) + u16(0)
    for key, val in items:
        out += i32(key) + (u16(val) if value_size == 2 else i32(val))
    return out


# ---------------------------------------------------------------- database builder

class Db:
    def __init__(self, page_size=4096, extent=8, seed=1):
        self.ps = page_size
        self.D = page_size - PAGE_HDR
        self.E = extent
        self.rnd = random.Random(seed)
        self.pages = {}          # page number -> full page bytes
        self.next_free = 0
        self.reserved = set()
        self.next_oid = 0
        self.tables = []         # (name, id, meta, state, locks)
        self.expected = {}       # table name -> list of JSON rows (dicts in field order)
        self.node_key_last = False
        self.version = 5.12
        self.lock_len = LOCK_LEN
        self.state = 2
        self.schema = {}
        self.password = b''
        self.direct_pages = set()
        self.not_null_oids = ()

    # page numbering ----------------------------------------------------
    def is_system(self, n):
        pfs = 8 * self.D
        eam = 4 * self.D * self.E
        return n % pfs == 0 or n % eam == 0 or ((n - 1) % pfs == 0 and (n - 1) % eam == 0)

    def alloc(self):
        while (self.next_free in self.pages or self.next_free in self.reserved
               or self.is_system(self.next_free)):
            self.next_free += 1
        n = self.next_free
        self.reserved.add(n)
        return n

    def reserve(self, n):
        assert n not in self.pages and n not in self.reserved and not self.is_system(n), n
        self.reserved.add(n)
        return n

    def object_id(self):
        self.next_oid += 1
        return self.next_oid

    def put_page(self, n, ptype, data, next_page=-1, owner=-1, counter=None):
        assert len(data) <= self.D, (n, len(data), self.D)
        if counter is None:
            counter = self.rnd.randrange(0, 0x3FFFFFFF)
        hdr = (PAGE_MAGIC + i32(counter) + u16(ptype) + i32(next_page) + u32(0)
               + bytes(4) + i32(owner) + i32(-1) + i16(0) + bytes(8))
        assert len(hdr) == PAGE_HDR
        self.pages[n] = hdr + data + bytes(self.D - len(data))

    # internal files ----------------------------------------------------
    def internal_file(self, ptype, content, compression=0, mode=6, first=None, owner=-1,
                      direct=False, stored_size=None):
        """A chain of pages holding a 10-byte preamble and the content."""
        full = len(content)
        if compression == 1:
            stored = zlib.compress(content, mode)
        elif compression == 2:
            stored = bz2.compress(content, mode)
        else:
            stored = content
        size = len(stored) if stored_size is None else stored_size
        pre = u8(10) + i32(size) + i32(0 if direct else full) + u8(compression)
        body = pre + stored
        count = max(1, -(-len(body) // self.D))
        nums = [first if first is not None else self.alloc()]
        for _ in range(count - 1):
            nums.append(self.alloc())
        if direct:
            self.direct_pages.update(nums)
        for k, n in enumerate(nums):
            nxt = nums[k + 1] if k + 1 < count else -1
            self.put_page(n, ptype, body[k * self.D:(k + 1) * self.D], nxt, owner)
        return nums[0]

    # BLOBs -------------------------------------------------------------
    def blob_stored(self, f, value):
        """Stored bytes and block count of a value under the field's compression."""
        alg, mode, bs = f.blob
        if alg == 0:
            return value, 0
        out = b''
        blocks = 0
        for k in range(0, len(value), bs):
            chunk = value[k:k + bs]
            z = zlib.compress(chunk, mode) if alg == 1 else bz2.compress(chunk, mode)
            out += i32(len(z)) + i32(len(chunk)) + u32(engine_crc(chunk)) + i64(len(z) + 20) + z
            blocks += 1
        return out, blocks

    def small_blob_page(self, entries, table_id):
        """entries: list of (id, stored bytes, block count, U). Returns the page number."""
        n = self.alloc()
        data = u16(len(entries))
        for bid, s, blocks, u in entries:
            data += i16(bid) + i32(blocks) + i64(len(s)) + i64(u) + s
        assert len(data) <= self.D
        self.put_page(n, PT_BLOB, data, owner=table_id)
        return n, len(data) - 2

    def large_blob(self, stored, blocks, u, table_id):
        D = self.D
        first_cap = D - 32
        rest = max(0, len(stored) - first_cap)
        P = 1 + -(-rest // D)
        nums = [self.alloc() for _ in range(P)]
        chunks = [stored[:first_cap]]
        for k in range(1, P):
            chunks.append(stored[first_cap + (k - 1) * D:first_cap + k * D])
        last_used = len(chunks[-1]) + (32 if P == 1 else 0)
        listbytes = b''.join(i32(x) for x in nums)
        # the page list follows the data on the last data page, or starts a fresh page
        if last_used + 4 <= D:
            list_start, list_off = nums[-1], last_used
        else:
            list_start, list_off = None, 0
        list_pages = []  # (page number, offset, bytes)
        pos = 0
        cur, off = list_start, list_off
        while pos < len(listbytes):
            if cur is None:
                cur, off = self.alloc(), 0
            take = (D - off) // 4 * 4
            list_pages.append((cur, off, listbytes[pos:pos + take]))
            pos += take
            cur, off = None, 0
        if list_start is None:
            list_start = list_pages[0][0]
        datas = {}
        datas[nums[0]] = (i16(0) + i32(blocks) + i64(len(stored)) + i64(u)
                          + i32(list_start) + u16(list_off) + i32(P) + chunks[0])
        for k in range(1, P):
            datas[nums[k]] = chunks[k]
        nexts = {}
        for k, (pn, off, lb) in enumerate(list_pages):
            cur = bytearray(datas.get(pn, b''))
            cur += bytes(max(0, off - len(cur)))
            cur[off:off + len(lb)] = lb
            datas[pn] = bytes(cur)
            if k + 1 < len(list_pages):
                nexts[pn] = list_pages[k + 1][0]
        for pn, d in datas.items():
            self.put_page(pn, PT_BLOB, d, nexts.get(pn, -1), owner=table_id)
        return nums[0]

    # B-tree ------------------------------------------------------------
    def page_index(self, entries, table_id, leaf_fill, node_fill, value_size=2):
        """A B-tree over sorted (key, value) entries; returns the root page.
        Node keys are the first key of each child's subtree (or the last one when
        self.node_key_last is set)."""
        if not entries:
            return -1
        level = [entries[k:k + leaf_fill] for k in range(0, len(entries), leaf_fill)]
        is_leaf = True
        while True:
            nums = [self.alloc() for _ in level]
            root = len(level) == 1
            for k, items in enumerate(level):
                prev = nums[k - 1] if k > 0 else -1
                nxt = nums[k + 1] if k + 1 < len(level) else -1
                self.put_page(nums[k], PT_INDEX,
                              btree_page(root, is_leaf, prev, nxt, items,
                                         value_size if is_leaf else 4), owner=table_id)
            if root:
                return nums[0]
            pick = -1 if self.node_key_last else 0
            parents = [(items[pick][0], nums[k]) for k, items in enumerate(level)]
            level = [parents[k:k + node_fill] for k in range(0, len(parents), node_fill)]
            is_leaf = False

    # tables ------------------------------------------------------------
    def add_table(self, name, fields, rows, record_pages=None, holes=0.0, meta_comp=0,
                  state_comp=0, leaf_fill=600, node_fill=600, indexes=b'', index_count=0,
                  constraints=b'', constraint_count=0, blob_small_ids=None, empty_pages=0,
                  record_count=None, foreign=(), first_counter=None):
        """rows: list of lists (None = NULL). BLOB values are bytes (or str for memos).
        record_pages: page numbers to use for record pages, in fill order."""
        tid = self.object_id()
        for i, f in enumerate(fields):
            f.oid = i + 1
        nb = (len(fields) + 7) // 8
        R = nb + sum(stored_size(f.base, f.size) for f in fields)
        n = (self.D - 1) * 8 // (8 * R + 1)
        assert n > 0
        bm = (n + 7) // 8

        # lay the records out: fill order = insertion order, walk order = by page number
        blob_pages = {}  # small-BLOB page -> used bytes
        pending_small = []  # small BLOB entries waiting for a page
        rows_enc = [self.encode_row(fields, row, tid, pending_small) for row in rows]
        self.flush_small(pending_small, tid, blob_pages, blob_small_ids)

        pages = list(record_pages or [])
        slots = {}
        remaining = list(rows_enc)
        pi = 0
        while remaining:
            if pi < len(pages):
                pn = pages[pi]
            else:
                pn = self.alloc()
            pi += 1
            free = list(range(n))
            if holes:
                free = [s for s in free if self.rnd.random() >= holes] or [n - 1]
            slots[pn] = {}
            for s in free[:len(remaining)]:
                slots[pn][s] = remaining.pop(0)
        for k in range(empty_pages):
            pn = self.alloc()
            slots[pn] = {}
        walk = sorted(slots)
        for pn, ss in slots.items():
            owner = tid + 1000 if walk.index(pn) in foreign else tid
            bitmap = bytearray(bm)
            area = bytearray(n * R)
            for s in range(n):   # deleted slots keep old bytes
                area[s * R:(s + 1) * R] = bytes(self.rnd.randrange(256) for _ in range(R)) \
                    if s not in ss and self.rnd.random() < 0.3 else bytes(R)
            for s, (rec, _) in ss.items():
                rec = bytes(rec)
                bitmap[s // 8] |= 1 << (s % 8)
                area[s * R:(s + 1) * R] = rec
            counter = first_counter if first_counter is not None and pn == walk[0] else None
            self.put_page(pn, PT_RECORD, bytes(bitmap) + bytes(area), owner=owner,
                          counter=counter)
        # From format version 2.99 on, a walk only trusts a first record page that carries
        # the table's ID; pages reached through the page index when stepping on are read
        # as record pages without that test.
        expected = []
        checks = self.version >= 2.99
        for k, pn in enumerate(walk):
            ss = sorted(slots[pn])
            if checks and k == 0 and (k in foreign or (first_counter or 0) > 0x7FFFFFFD):
                break
            for s in ss:
                expected.append(slots[pn][s][1])
        entries = [(pn, len(slots[pn])) for pn in sorted(slots)]
        root = self.page_index(entries, tid, leaf_fill, node_fill)
        blob_root = self.page_index(sorted(blob_pages.items()), tid, 600, 600)

        meta = i32(len(fields)) + b''.join(f.stream() for f in fields)
        meta += i32(index_count) + indexes + i32(constraint_count) + constraints
        meta += i32(root) + i32(blob_root)
        meta_page = self.internal_file(PT_METADATA, meta, compression=meta_comp, owner=tid)
        counters = b''
        for f, col in zip(fields, zip(*rows) if rows else [[] for _ in fields]):
            last = 0
            if 12 <= f.adv <= 19:
                vals = [v for v in col if v is not None]
                last = max(vals) if vals else 0
                if f.adv == 19:
                    last = last  # uint32 stored, counter kept as int64
            counters += i64(last)
        count = len(rows_enc) if record_count is None else record_count
        state = i32(len(fields)) + counters + i32(len(rows) * 3 + 7) + i32(count)
        state_page = self.internal_file(PT_STATE, state, compression=state_comp, owner=tid)
        lock_page = self.internal_file(PT_TABLELOCKS, bytes(12 * MAX_CONNECTIONS),
                                       owner=tid, direct=True)
        self.tables.append((name, tid, meta_page, state_page, lock_page))
        self.expected[name] = expected if count else []
        required = set()
        if constraint_count:
            required = set(self.not_null_oids)
        lines = ['%s: %d records' % (name, count)]
        for f in fields:
            size = f.size if f.adv in (1, 2, 3, 4, 29, 30) else (38 if f.adv == 36 else 0)
            autoinc_kind = f.adv in (12, 13, 14, 15, 17, 18, 19)
            req = f.oid in required and not autoinc_kind
            lines.append('  %s\t%s\t%d\t%s' % (f.name, SQL_NAMES[f.adv], size,
                                               'required' if req else 'optional'))
        self.schema[name] = '\n'.join(lines) + '\n'

    def encode_row(self, fields, row, tid, pending_small):
        """Stored record (a bytearray; small-BLOB references are patched in later) and the
        JSON object a reader must produce for it."""
        nb = (len(fields) + 7) // 8
        rec = bytearray(nb)
        exp = {}
        for i, (f, v) in enumerate(zip(fields, row)):
            size = stored_size(f.base, f.size)
            if v is None:
                rec[i // 8] |= 1 << (i % 8)
                # a NULL field keeps whatever bytes it had
                rec += bytes(self.rnd.randrange(256) for _ in range(size))
                exp[f.name] = None
                continue
            if f.is_blob():
                raw = v.encode('cp1252') if isinstance(v, str) else v
                stored, blocks = self.blob_stored(f, raw)
                if f.adv in (33, 34):
                    exp[f.name] = raw.decode('cp1252')
                else:
                    exp[f.name] = base64.b64encode(raw).decode('ascii')
                if len(stored) + 24 < self.D:
                    pending_small.append((stored, blocks, len(raw), rec, len(rec)))
                    rec += bytes(6)
                else:
                    pn = self.large_blob(stored, blocks, len(raw), tid)
                    bid = 255 if self.rnd.random() < 0.5 else -1
                    rec += i32(pn) + i16(bid)
                continue
            raw, j = encode_value(f, v, self.rnd)
            assert len(raw) == size, (f.name, len(raw), size)
            rec += raw
            exp[f.name] = j
        return rec, exp

    def flush_small(self, pending, tid, blob_pages, fixed_ids):
        """Packs the waiting small BLOBs onto small-BLOB pages and patches the references."""
        group = []
        used = 2
        first = [True]

        def emit():
            nonlocal group, used
            if not group:
                return
            if first[0] and fixed_ids and len(group) >= len(fixed_ids):
                ids = list(fixed_ids) + list(range(len(fixed_ids), len(group)))
            elif len(group) <= 10:
                ids = self.rnd.sample(range(250, 260), len(group))  # 255 among them at times
            else:
                ids = list(range(len(group)))
                self.rnd.shuffle(ids)
            first[0] = False
            entries = [(ids[k], g[0], g[1], g[2]) for k, g in enumerate(group)]
            pn, size = self.small_blob_page(entries, tid)
            blob_pages[pn] = size
            for k, g in enumerate(group):
                g[3][g[4]:g[4] + 6] = i32(pn) + i16(ids[k])
            group = []
            used = 2

        for g in pending:
            need = 22 + len(g[0])
            if used + need > self.D:
                emit()
            group.append(g)
            used += need
        emit()

    # whole file ----------------------------------------------------------
    def build(self):
        # pages 0 and 1: PFS and EAM; 2: system directory; then slots and table list
        assert self.next_free == 0
        self.reserved.update({0, 1})
        sysdir = self.reserve(2)
        slots = self.internal_file(PT_SLOTS, bytes(MAX_CONNECTIONS), direct=True)
        return sysdir, slots

    def finish(self, sysdir, slots, extra_free=3):
        tl = b''
        for name, tid, meta, state, locks in self.tables:
            nm = name.encode('cp1252')
            noise = bytes(self.rnd.randrange(256) for _ in range(255 - len(nm)))
            tl += u8(len(nm)) + nm + noise + i32(tid) + i32(meta) + i32(state) + i32(locks)
        tlist = self.internal_file(PT_TABLELIST, tl)
        self.internal_file(PT_SYSDIR, u8(2) + i32(slots) + u8(1) + i32(tlist), first=sysdir)
        last = max(self.pages)
        total = last + 1 + extra_free
        while self.is_system(total - 1):
            total += 1
        used = set(self.pages) | {0, 1}
        pfs = bytearray(self.D)
        for p in used:
            pfs[p // 8] |= 1 << (p % 8)
        eam = bytearray(self.D)
        for x in range(-(-total // self.E)):
            pgs = range(x * self.E, (x + 1) * self.E)
            full = all(p in used for p in pgs)
            eam[x // 4] |= (3 if full else 1) << (2 * (x % 4))
        self.put_page(0, PT_PFS, bytes(pfs))
        self.put_page(1, PT_EAM, bytes(eam))
        hdr = (FILE_SIGNATURE + i16(HEADER_LEN) + struct.pack('<d', self.version) + u16(self.ps)
               + u16(self.E) + i32(total) + i32(last) + i32(self.rnd.randrange(1, 999))
               + u8(self.state) + u8(0xFF if self.password else 0) + bytes(32))
        assert len(hdr) == HEADER_LEN
        check = bytes(self.rnd.randrange(255) for _ in range(256))
        stored_check = check
        if self.password:
            stored_check = edb_crypto.encipher_rijndael128(self.password, check)
            # every page but the free-space map and the direct files is enciphered, with the
            # CRC of its plain data area and the cipher id (0) in its header
            for n, page in list(self.pages.items()):
                if self.is_system(n) or n in self.direct_pages:
                    continue
                data = page[PAGE_HDR:]
                hdr_p = bytearray(page[:PAGE_HDR])
                hdr_p[14:18] = u32(engine_crc(data))
                hdr_p[20] = 0
                self.pages[n] = bytes(hdr_p) + edb_crypto.encipher_rijndael128(self.password,
                                                                                data)
        cb = (i16(CHECK_LEN) + u8(0) + u8(0) + stored_check + u32(engine_crc(check))
              + bytes(16))
        lock = i16(self.lock_len) + bytes(self.lock_len - 2)
        out = bytearray(hdr + cb + lock + i32(self.next_oid))
        for p in range(total):
            out += self.pages.get(p, bytes(self.ps))
        return bytes(out)


# ---------------------------------------------------------------- sample content

def all_types_fields():
    return [
        Field('F_CHAR', FT.CHAR, 10), Field('F_VARCHAR', FT.VARCHAR, 20),
        Field('F_WIDECHAR', FT.WIDECHAR, 6), Field('F_WIDESTRING', FT.WIDESTRING, 20),
        Field('F_SHORTINT', FT.SHORTINT), Field('F_SMALLINT', FT.SMALLINT),
        Field('F_INTEGER', FT.INTEGER), Field('F_LARGEINT', FT.LARGEINT),
        Field('F_BYTE', FT.BYTE), Field('F_WORD', FT.WORD), Field('F_CARDINAL', FT.CARDINAL),
        Field('F_AUTOINC', FT.AUTOINC), Field('F_AI_SHORT', FT.AUTOINCSHORTINT),
        Field('F_AI_SMALL', FT.AUTOINCSMALLINT), Field('F_AI_INT', FT.AUTOINCINTEGER),
        Field('F_AI_LARGE', FT.AUTOINCLARGEINT), Field('F_AI_BYTE', FT.AUTOINCBYTE),
        Field('F_AI_WORD', FT.AUTOINCWORD), Field('F_AI_CARD', FT.AUTOINCCARDINAL),
        Field('F_SINGLE', FT.SINGLE), Field('F_FLOAT', FT.FLOAT),
        Field('F_EXTENDED', FT.EXTENDED), Field('F_LOGICAL', FT.LOGICAL),
        Field('F_CURRENCY', FT.CURRENCY), Field('F_DATE', FT.DATE), Field('F_TIME', FT.TIME),
        Field('F_DATETIME', FT.DATETIME), Field('F_TIMESTAMP', FT.TIMESTAMP),
        Field('F_GUID', FT.GUID),
        Field('F_INT_DEFAULT', FT.INTEGER, default=i32(42)),
    ]


def d(y, m, dd):
    return day_number(datetime.date(y, m, dd))


def all_types_rows():
    F = Fraction
    rows = [
        ['abc', 'h\xe9llo w\xf6rld', 'x\u20acy', 'Gr\xfc\xdfe \u043f\u0440\u0438\u0432\u0435\u0442 \U0001F600',
         -128, -32768, -2147483648, -9223372036854775808, 0, 0, 0,
         1, -128, -32768, -2147483648, -9223372036854775808, 0, 0, 0xFFFFFFFF,
         1.5, -0.1, F(1, 3), 1, 12.3456, 1, 0, (693593, -21600000), (693594, 0),
         '{6F9619FF-8B86-D011-B42D-00C04FC964FF}', 0],
        ['0123456789', 'x' * 20, '\u00e9' * 6, 'w' * 20,
         127, 32767, 2147483647, 9223372036854775807, 255, 65535, 4294967295,
         2147483647, 127, 32767, 2147483647, 9223372036854775807, 255, 65535, 0x7FFFFFFF,
         3.4028234663852886e38, 1.7976931348623157e308,
         F(1) + F(1, 2 ** 53) + F(1, 2 ** 60), 0x0100, -922337203685477.5,
         d(9999, 12, 31), 86399999, (d(9999, 12, 31), 86399999), (730120, 43200000),
         '{00000000-0000-0000-0000-000000000000}', -1],
        [None] * 30,
        [bytes([0x80, 0x8A, 0x9F, 0xA0, 0xFF, 0x00, 0x41]), '\u20ac\u2122\xbf\xff', '', '',
         -1, -1, -1, -1, 1, 1, 1, 5, -5, -500, -50000, -5000000000, 200, 60000, 0x80000000,
         -0.0, 5e-324, F(-5, 2), 0, 0.0, d(1, 1, 1), 1,
         (d(1800, 6, 15), -(13 * 3600000 + 14 * 60000 + 15678)),
         (d(2024, 2, 29), 45296789),
         '{ABCDEF01-2345-6789-ABCD-EF0123456789}', None],
        [None, 'only varchar', None, 'wide only', None, 7, None, 8, None, 9, None, 10, None, 11,
         None, 12, None, 13, None, 0.25, None, F(10) ** 300, None, 1.25, None, 43200000,
         None, (d(1970, 1, 1), 1), None, 2147483647],
        [None] * 19 + [float('nan'), float('-inf'), Fraction(10) ** 4000, None, 1e-310]
        + [None] * 6,
        [None] * 19 + [float('inf'), 2.0 ** -1074, (Fraction(5, 2) + Fraction(1, 2 ** 60)) / 2 ** 1074, None,
                       float('nan')] + [None] * 6,
    ]
    return rows


def blob_fields():
    return [
        Field('ID', FT.INTEGER),
        Field('B_PLAIN', FT.BLOB, blob=(0, 0, 102400)),
        Field('B_ZLIB', FT.BLOB, blob=(1, 6, 1000)),
        Field('B_BZIP', FT.GRAPHIC, blob=(2, 9, 3000)),
        Field('M_MEMO', FT.MEMO, blob=(1, 1, 2048)),
        Field('M_FMT', FT.FORMATTEDMEMO, blob=(0, 0, 102400)),
        Field('W_MEMO', FT.WIDEMEMO, blob=(0, 0, 102400)),
        Field('TAIL', FT.VARCHAR, 8),
    ]


def blob_rows(D, rnd):
    def noise(n):
        return bytes(rnd.randrange(256) for _ in range(n))
    text = ('The quick brown fox \u20ac jumps \xe9\xe8 over the lazy dog. ' * 300)
    rows = [
        [1, b'\x01', b'z' * 2500, noise(50), 'short memo \xe9', 'fmt', 'w\u20ac'.encode('utf-16-le'), 'a'],
        [2, noise(D - 24 - 1), noise(5000), b'y' * 7000, text, 'x' * (D - 24), None, 'b'],
        [3, noise(D - 24), noise(1500), noise(3500), None, None, 'big'.encode('utf-16-le') * 4000, 'c'],
        [4, noise(10000), None, None, text[:3000], 'q' * 100, b'\x00\x00', 'd'],
        [5, noise((D - 32) + D), b'\x00' * 300000, noise(20), 'm', 'n', noise(3), 'e'],
        [6, noise((D - 32) + D + (D - 6)), noise(1), noise(1), 'memo', 'fmt2', noise(1), 'f'],
        [7, None, None, None, None, None, None, None],
    ]
    if D < 1000:
        # a page list of some 600 numbers over three chained list pages
        pattern = bytes(range(7, 256)) * (600 * D // 249 + 1)
        rows.append([8, pattern[:600 * D - 100], None, None, None, None, None, 'g'])
    return rows


def big_fields():
    return [Field('ID', FT.INTEGER), Field('NAME', FT.CHAR, 300), Field('WHEN', FT.DATETIME)]


def build_database(page_size, seed, multi_level_tree=True, node_key_last=False,
                   version=5.12, state=2, lock_len=LOCK_LEN, many_tables=0, password=b''):
    db = Db(page_size=page_size, seed=seed)
    db.node_key_last = node_key_last
    db.version, db.state, db.lock_len = version, state, lock_len
    db.password = password
    sysdir, slots = db.build()
    rnd = db.rnd
    D = db.D

    # a table whose record pages were allocated out of order (12, 7, 3 style)
    base = db.next_free
    spread = [base + 40, base + 25, base + 9]
    for p in spread:
        db.reserve(p)
    fields = all_types_fields()
    not_null = (u8(3) + u8(6) + b'NN_INT' + i32(900) + i32(0) + i32(0) + i32(7)
                + b''.join(u8(4) + u8(3) + b'abc' for _ in range(3)))
    primary = (u8(0) + u8(2) + b'PK' + i32(901) + i32(1) + i32(2) + i32(3)
               + b''.join(i32(3) + u8(2) + b'pk' for _ in range(3))
               + i32(1) + i32(7) + i32(8) + u8(7) + b'F_BYTE!')
    check = (u8(4) + u8(2) + b'CK' + i32(902) + i32(0) + i32(0) + i32(5)
             + b''.join(u8(2) + u8(1) + b'c' for _ in range(3))
             + u8(7) + u8(0) + i32(4) + i32(-5) + u8(7) + u8(255))
    index = (u8(5) + b'IDX_1' + i32(903) + u8(1) + u8(0) + u8(0) + i32(1) + i32(-1)
             + u8(9) + b'F_INTEGER' + u8(255) + u8(0) + i32(20))
    rows = all_types_rows() * 8
    db.not_null_oids = (7,)
    db.add_table('AllTypes', fields, rows, record_pages=spread, holes=0.35,
                 indexes=index, index_count=1, constraints=not_null + primary + check,
                 constraint_count=3, meta_comp=1)

    db.add_table('Blobs', blob_fields(), blob_rows(D, rnd), meta_comp=2, state_comp=1,
                 blob_small_ids=[0, 2, 1])

    # many record pages under a multi-level page index, allocated in shuffled order
    bf = big_fields()
    R = 1 + 4 + 301 + 8
    n = (D - 1) * 8 // (8 * R + 1)
    want_pages = 45
    nums = []
    for _ in range(want_pages):
        nums.append(db.alloc())
    rnd.shuffle(nums)
    big_rows = []
    for k in range(want_pages * max(1, n * 2 // 3)):
        big_rows.append([k, 'row %d \xe4' % k, (730120 + k, (k * 7919) % MS_PER_DAY)])
    if multi_level_tree:
        db.add_table('Big', bf, big_rows, record_pages=nums, holes=0.3, leaf_fill=4,
                     node_fill=3, state_comp=2)
    else:
        db.add_table('Big', bf, big_rows, record_pages=nums, holes=0.3)

    db.add_table('Empty', [Field('A', FT.INTEGER), Field('B', FT.VARCHAR, 5)], [])
    # record count 0 while the page index still lists a page with no record
    db.add_table('emptyListed', [Field('A', FT.INTEGER)], [], empty_pages=1)
    # record pages that carry another table's ID: first of the walk, and a later one
    small = [Field('K', FT.INTEGER), Field('V', FT.VARCHAR, 30)]
    some = [[k, 'value %d' % k] for k in range(300)]
    db.add_table('ForeignFirst', small, some, holes=0.2, foreign={0})
    db.add_table('ForeignLater', small, some, holes=0.2, foreign={1})
    # the change counter of the first record page: 0x7FFFFFFD is still a live page,
    # 0x7FFFFFFF marks a freed one
    db.add_table('CounterLive', small, some[:50], first_counter=0x7FFFFFFD)
    db.add_table('CounterFreed', small, some[:50], first_counter=0x7FFFFFFF)
    # a state file saying the table is empty wins over the pages
    db.add_table('CountZero', small, some[:50], record_count=0)
    db.add_table('Gr\xf6\xdfe_\xc4rger', [Field('K', FT.INTEGER), Field('Stra\xdfe', FT.VARCHAR, 30)],
                 some[:5])
    # the largest record that still fits: one slot per page
    db.add_table('OnePerPage', [Field('C', FT.CHAR, D - 4)],
                 [['first'], [None], ['x' * (D - 4)], ['\xe4' * 7]])
    # 80 fields: a 10-byte null bitmap and a metadata file over more than one page
    wide = [Field('FIELD_%02d_%s' % (k, 'W' * 40), FT.SMALLINT) for k in range(80)]
    wide_rows = [[None if (r * 7 + k) % 5 == 0 else r * 100 + k for k in range(80)]
                 for r in range(30)]
    db.add_table('Wide80', wide, wide_rows, holes=0.25)
    for k in range(many_tables):
        db.add_table('T%03d_%s' % (k, 'n' * (k * 7 % 200)), [Field('X', FT.SMALLINT)],
                     [[k], [-k]])
    return db.finish(sysdir, slots), db


def write_case(outdir, name, image, db, prefix=b'', suffix=b'', password=''):
    path = os.path.join(outdir, name + '.abs')
    with open(path, 'wb') as fh:
        fh.write(prefix + image + suffix)
    return {
        'file': path,
        'password': password,
        'tables': [t[0] for t in db.tables],
        'expected': {t: db.expected[t] for t in db.expected},
        'schema': '\n'.join(db.schema[t[0]] for t in db.tables),
    }


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    cases = []
    image, db = build_database(4096, 11)
    cases.append(write_case(outdir, 'plain4096', image, db))
    # the same database behind 9983 bytes of other data, with more data after it
    junk = random.Random(5)
    prefix = bytes(junk.randrange(256) for _ in range(9983))
    suffix = bytes(junk.randrange(256) for _ in range(777))
    cases.append(write_case(outdir, 'offset9983', image, db, prefix, suffix))
    # in the next gap between search windows, behind a signature with a wrong length word
    prefix = bytearray(junk.randrange(256) for _ in range(19967))
    prefix[5000:5018] = FILE_SIGNATURE + i16(75)
    cases.append(write_case(outdir, 'offset19967', image, db, bytes(prefix)))
    image, db = build_database(1024, 12)
    cases.append(write_case(outdir, 'plain1024', image, db))
    image, db = build_database(4096, 14, node_key_last=True)
    cases.append(write_case(outdir, 'nodekeylast4096', image, db))
    # an old-format file (no record page checks), left with a commit in progress
    image, db = build_database(4096, 15, version=2.98, state=1)
    cases.append(write_case(outdir, 'oldformat4096', image, db))
    # a longer lock area moves the object-ID counter and the page area; a table list over
    # several pages
    image, db = build_database(4096, 16, lock_len=36, many_tables=40)
    cases.append(write_case(outdir, 'lockarea36', image, db))
    # enciphered with cipher 0 (AES-128 keyed by the RIPEMD-128 of the password)
    image, db = build_database(4096, 17, password=b'S3cr\xe9t')
    cases.append(write_case(outdir, 'rijndael4096', image, db, password='S3cr\xe9t'))
    image, db = build_database(8192, 13, multi_level_tree=False)
    cases.append(write_case(outdir, 'plain8192', image, db))
    with open(os.path.join(outdir, 'manifest.json'), 'w') as fh:
        json.dump(cases, fh, ensure_ascii=False)


if __name__ == '__main__':
    main()
