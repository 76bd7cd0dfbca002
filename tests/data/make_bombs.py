#!/usr/bin/env python3
"""Writes the .X files of x/ that are small but once made the reader hold
hundreds or thousands of times their size before refusing them: compressed
data that inflates to all it may and then fails, and references that repeat a
mesh with many materials. Run it from this folder; the files are committed,
so this is only needed to change them. Each must be refused, and refusing it
must take at most 100 times its size plus 1 MiB (tests/importers/hostile_test.cpp
checks every file of these folders)."""
import random
import struct
import zlib

# What a compressed file may inflate to: within the reader's memory budget
# (96 bytes per byte of the file and 896 KiB), and within the 128 times plus
# 64 KiB that the reader once allowed, then parsed whatever it cost.
def room_for(size):
    return min(96 * size + 896 * 1024, 128 * size + 65536)


def mszip(encoding, content):
    """A compressed file ("tzip" or "bzip") of the content after the header."""
    out = bytearray(b'xof 0303' + encoding + b'0032')
    out += struct.pack('<I', 16 + len(content))
    for start in range(0, len(content), 32768):
        block = content[start:start + 32768]
        history = content[max(0, start - 32768):start]
        if history:
            z = zlib.compressobj(9, zlib.DEFLATED, -15, 9, zlib.Z_DEFAULT_STRATEGY, history)
        else:
            z = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
        packed = z.compress(block) + z.flush()
        out += struct.pack('<HH', len(block), len(packed) + 2) + b'CK' + packed
    return bytes(out)


def noise(n):
    """A comment of letters that do not compress."""
    rng = random.Random(13)
    return b'#' + bytes(rng.choice(b'abcdefghijklmnopqrstuvwxyz') for _ in range(n)) + b'\n'


def filling_the_budget(payload, noise_bytes=12000):
    """Noise, then as much payload as the file may inflate to (nine tenths of it)."""
    pad = noise(noise_bytes)
    data = mszip(b'tzip', pad + payload(1000))
    for _ in range(4):
        room = room_for(len(data)) * 9 // 10 - len(pad)
        data = mszip(b'tzip', pad + payload(room))
    return data


def write(name, data):
    with open('x/' + name, 'wb') as f:
        f.write(data)


# Empty frames up to the limit, the last one never closed: 40 times as much
# memory per frame as the frame takes inflated.
write('inflated_frames_unclosed.x', filling_the_budget(lambda room: b'Frame{}' * (room // 7) + b'Frame{'))

# Frame transforms, each 16 kept numbers, the last one cut short.
matrix = b'FrameTransformMatrix{0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0;;}'
write('inflated_matrices_cut_short.x',
      filling_the_budget(lambda room: b'Frame F{' + matrix * (room // len(matrix)) + b'FrameTransformMatrix{'))

# One polygon of a million corners: twelve bytes of triangle indices per
# two bytes of text, and a corner past the vertices at the end.
def polygon(room):
    n = room // 2
    return b'Mesh{3;0;0;0;,0;0;0;,0;0;0;;1;%d;' % n + b'0,' * (n - 1) + b'3;;}'


write('inflated_polygon_bad_corner.x', filling_the_budget(polygon))

# A mesh of nothing but 200 materials named by 10000 references: each
# reference makes a mesh container with its own copy of the materials.
materials = b'Material Q{1;1;1;1;;1;0;0;0;;0;0;0;;}'
mesh = b'Mesh M{0;;0;;MeshMaterialList{200;0;;' + b'{Q}' * 200 + b'}}'
write('mesh_of_200_materials_named_10000_times.x',
      b'xof 0303txt 0032\n' + materials + mesh + b'Frame F{' + b'{M}' * 10000 + b'{Nothing}}')

# Frames deeper than a skeleton may be, inside the reader's nesting limit.
write('frames_1025_deep.x', b'xof 0303txt 0032\n' + b'Frame{' * 1025 + b'}' * 1025)
