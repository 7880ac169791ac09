"""Enciphering of database pages for the independent writer: RIPEMD-128 of the password,
AES-128 (Rijndael with a 16-byte key) in the engine's feedback chaining. Python standard
library only, so both algorithms are written out here; self_test() pins them to published
vectors."""

import struct


# ---------------------------------------------------------------- RIPEMD-128

_R = [list(range(16)),
      [7, 4, 13, 1, 10, 6, 15, 3, 12, 0, 9, 5, 2, 14, 11, 8],
      [3, 10, 14, 4, 9, 15, 8, 1, 2, 7, 0, 6, 13, 11, 5, 12],
      [1, 9, 11, 10, 0, 8, 12, 4, 13, 3, 7, 15, 14, 5, 6, 2]]
_RP = [[5, 14, 7, 0, 9, 2, 11, 4, 13, 6, 15, 8, 1, 10, 3, 12],
       [6, 11, 3, 7, 0, 13, 5, 10, 14, 15, 8, 12, 4, 9, 1, 2],
       [15, 5, 1, 3, 7, 14, 6, 9, 11, 8, 12, 2, 10, 0, 4, 13],
       [8, 6, 4, 1, 3, 11, 15, 0, 5, 12, 2, 13, 9, 7, 10, 14]]
_S = [[11, 14, 15, 12, 5, 8, 7, 9, 11, 13, 14, 15, 6, 7, 9, 8],
      [7, 6, 8, 13, 11, 9, 7, 15, 7, 12, 15, 9, 11, 7, 13, 12],
      [11, 13, 6, 7, 14, 9, 13, 15, 14, 8, 13, 6, 5, 12, 7, 5],
      [11, 12, 14, 15, 14, 15, 9, 8, 9, 14, 5, 6, 8, 6, 5, 12]]
_SP = [[8, 9, 9, 11, 13, 15, 15, 5, 7, 7, 8, 11, 14, 14, 12, 6],
       [9, 13, 15, 7, 12, 8, 9, 11, 7, 7, 12, 7, 6, 15, 13, 11],
       [9, 7, 15, 11, 8, 6, 6, 14, 12, 13, 5, 14, 13, 13, 7, 5],
       [15, 5, 8, 11, 14, 14, 6, 14, 6, 9, 12, 9, 12, 5, 15, 8]]
_K = [0, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC]
_KP = [0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0]
M32 = 0xFFFFFFFF


def _rol(x, n):
    return ((x << n) | (x >> (32 - n))) & M32


def _f(j, x, y, z):
    if j == 0:
        return x ^ y ^ z
    if j == 1:
        return (x & y) | (~x & z & M32)
    if j == 2:
        return (x | (~y & M32)) ^ z
    return (x & z) | (y & ~z & M32)


def ripemd128(data):
    h = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476]
    msg = data + b'\x80' + bytes((55 - len(data)) % 64) + struct.pack('<Q', 8 * len(data))
    for off in range(0, len(msg), 64):
        X = struct.unpack('<16I', msg[off:off + 64])
        a, b, c, d = h
        ap, bp, cp, dp = h
        for rnd in range(4):
            for i in range(16):
                t = _rol((a + _f(rnd, b, c, d) + X[_R[rnd][i]] + _K[rnd]) & M32, _S[rnd][i])
                a, d, c, b = d, c, b, t
                t = _rol((ap + _f(3 - rnd, bp, cp, dp) + X[_RP[rnd][i]] + _KP[rnd]) & M32,
                         _SP[rnd][i])
                ap, dp, cp, bp = dp, cp, bp, t
        t = (h[1] + c + dp) & M32
        h[1] = (h[2] + d + ap) & M32
        h[2] = (h[3] + a + bp) & M32
        h[3] = (h[0] + b + cp) & M32
        h[0] = t
    return struct.pack('<4I', *h)


# ---------------------------------------------------------------- AES (encipher only)

def _xtime(a):
    a <<= 1
    return (a ^ 0x11B) if a & 0x100 else a


def _gmul(a, b):
    r = 0
    while b:
        if b & 1:
            r ^= a
        a = _xtime(a)
        b >>= 1
    return r


def _make_sbox():
    inv = [0] * 256
    for x in range(1, 256):
        for y in range(1, 256):
            if _gmul(x, y) == 1:
                inv[x] = y
                break
    box = []
    for x in range(256):
        b = inv[x]
        s = b
        for k in range(1, 5):
            s ^= ((b << k) | (b >> (8 - k))) & 0xFF
        box.append(s ^ 0x63)
    return box


_SBOX = _make_sbox()


class Aes:
    def __init__(self, key):
        nk = len(key) // 4
        self.nr = nk + 6
        w = [list(key[4 * i:4 * i + 4]) for i in range(nk)]
        rcon = 1
        for i in range(nk, 4 * (self.nr + 1)):
            t = list(w[i - 1])
            if i % nk == 0:
                t = [_SBOX[b] for b in t[1:] + t[:1]]
                t[0] ^= rcon
                rcon = _xtime(rcon)
            elif nk > 6 and i % nk == 4:
                t = [_SBOX[b] for b in t]
            w.append([x ^ y for x, y in zip(w[i - nk], t)])
        self.rk = [sum(w[4 * r:4 * r + 4], []) for r in range(self.nr + 1)]

    def encrypt(self, block):
        s = [b ^ k for b, k in zip(block, self.rk[0])]
        for r in range(1, self.nr + 1):
            s = [_SBOX[b] for b in s]
            s = [s[(i + 4 * (i % 4)) % 16] for i in range(16)]  # shift rows (column-major)
            if r != self.nr:
                m = []
                for c in range(4):
                    a = s[4 * c:4 * c + 4]
                    m += [_gmul(a[0], 2) ^ _gmul(a[1], 3) ^ a[2] ^ a[3],
                          a[0] ^ _gmul(a[1], 2) ^ _gmul(a[2], 3) ^ a[3],
                          a[0] ^ a[1] ^ _gmul(a[2], 2) ^ _gmul(a[3], 3),
                          _gmul(a[0], 3) ^ a[1] ^ a[2] ^ _gmul(a[3], 2)]
                s = m
            s = [b ^ k for b, k in zip(s, self.rk[r])]
        return bytes(s)


def encipher_rijndael128(password, data):
    """The engine's chaining over one buffer with cipher id 0: F starts as 16 bytes 0xFF;
    each whole block P becomes C = E(P xor F), then F := C xor F; a partial tail is
    P xor E(F)."""
    aes = Aes(ripemd128(password)[:16])
    f = bytes([0xFF] * 16)
    out = bytearray()
    n = len(data) // 16 * 16
    for k in range(0, n, 16):
        c = aes.encrypt(bytes(p ^ x for p, x in zip(data[k:k + 16], f)))
        out += c
        f = bytes(x ^ y for x, y in zip(c, f))
    if n < len(data):
        e = aes.encrypt(f)
        out += bytes(p ^ x for p, x in zip(data[n:], e))
    return bytes(out)


def self_test():
    assert ripemd128(b'').hex() == 'cdf26213a150dc3ecb610f18f6b38b46', ripemd128(b'').hex()
    assert ripemd128(b'abc').hex() == 'c14a12199c66e4ba84636b0f69144c77'
    assert ripemd128(b'a' * 200).hex() == ripemd128(b'a' * 100 + b'a' * 100).hex()
    key = bytes(range(16))
    pt = bytes.fromhex('00112233445566778899aabbccddeeff')
    assert Aes(key).encrypt(pt).hex() == '69c4e0d86a7b0430d8cdb78070b4c55a'
    assert Aes(bytes(range(32))).encrypt(pt).hex() == '8ea2b7ca516745bfeafc49904b496089'


if __name__ == '__main__':
    self_test()
    print('ok')
