#!/usr/bin/env python3
"""Writes the seed files of the .3ds fuzz target: small well-formed scenes that
between them use every chunk the importer looks at. Run it from this folder."""
import struct


def chunk(cid, payload):
    return struct.pack('<HI', cid, 6 + len(payload)) + payload


def points(ps):
    return chunk(0x4110, struct.pack('<H', len(ps)) + b''.join(struct.pack('<3f', *p) for p in ps))


def faces(fs, sub=b''):
    return chunk(0x4120, struct.pack('<H', len(fs)) + b''.join(struct.pack('<4H', *f, 7) for f in fs) + sub)


def named(name, *parts):
    return chunk(0x4000, name + b'\0' + chunk(0x4100, b''.join(parts)))


def scene(*objects, after=b''):
    return chunk(0x4D4D, chunk(0x0002, struct.pack('<I', 3)) +
                 chunk(0x3D3D, chunk(0x3D3E, struct.pack('<I', 3)) + b''.join(objects)) + after)


SQUARE = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
TRIANGLE = [(5, 0, 1), (6, 0, 1), (5, 1, 1)]
IDENTITY = struct.pack('<12f', 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0)


def write(name, data):
    with open(name, 'wb') as f:
        f.write(data)


write('two_meshes.3ds', scene(named(b'zeta', points(SQUARE), faces([(0, 1, 2), (0, 2, 3)])),
                              named(b'alpha', points(TRIANGLE), faces([(0, 1, 2)]))))

groups = (chunk(0x4130, b'red\0' + struct.pack('<HHH', 2, 0, 1)) +
          chunk(0x4150, struct.pack('<2I', 1, 1)))
write('mesh_with_everything.3ds', scene(named(
    b'box', points(SQUARE),
    chunk(0x4111, struct.pack('<5H', 4, 0, 0, 0, 0)),
    chunk(0x4140, struct.pack('<H', 4) + struct.pack('<8f', 0, 0, 1, 0, 1, 1, 0, 1)),
    chunk(0x4160, IDENTITY),
    chunk(0x4165, b'\x02'),
    faces([(0, 1, 2), (0, 2, 3)], groups))))

material = chunk(0xAFFF, chunk(0xA000, b'red\0') + chunk(0xA020, chunk(0x0011, b'\xff\x00\x00')))
keyframes = chunk(0xB000, chunk(0xB00A, struct.pack('<H', 5) + b'MAXSCENE\0' + struct.pack('<I', 100)) +
                  chunk(0xB002, chunk(0xB030, struct.pack('<H', 0)) +
                        chunk(0xB010, b'box\0' + struct.pack('<HHH', 0, 0, 0xFFFF))))
write('scene_with_material_and_keys.3ds',
      scene(chunk(0x4000, b'cam\0' + chunk(0x4700, bytes(32))),
            named(b'box', points(SQUARE), faces([(0, 1, 2)])), after=material + keyframes))

write('mesh_without_faces.3ds', scene(named(b'dots', points(TRIANGLE))))
write('scene_data_only.3ds', chunk(0x3D3D, named(b'm', points(TRIANGLE), faces([(2, 1, 0)]))))
