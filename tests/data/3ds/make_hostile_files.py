#!/usr/bin/env python3
"""Writes the hostile .3ds files of this folder, each holding one thing that
lib3ds 1.3 cannot take. Run it from this folder; the files are committed, so
this is only needed to change them."""
import struct


def chunk(cid, payload):
    return struct.pack('<HI', cid, 6 + len(payload)) + payload


def points(ps, count=None):
    count = len(ps) if count is None else count
    return chunk(0x4110, struct.pack('<H', count) + b''.join(struct.pack('<3f', *p) for p in ps))


def faces(fs, sub=b''):
    return chunk(0x4120, struct.pack('<H', len(fs)) + b''.join(struct.pack('<4H', *f, 0) for f in fs) + sub)


def named(name, *parts):
    return chunk(0x4000, name + b'\0' + chunk(0x4100, b''.join(parts)))


def scene(*objects, after=b''):
    return chunk(0x4D4D, chunk(0x0002, struct.pack('<I', 3)) + chunk(0x3D3D, b''.join(objects)) + after)


TRIANGLE = [(0, 0, 0), (1, 0, 0), (0, 1, 0)]
GOOD = named(b'm', points(TRIANGLE), faces([(0, 1, 2)]))


def write(name, data):
    with open(name, 'wb') as f:
        f.write(data)


# An unknown chunk of length 0: lib3ds skips it by its length, forever.
write('zero_length_chunk.3ds', scene(GOOD, after=struct.pack('<HI', 0x1234, 0) + bytes(10)))

# A length that wraps lib3ds's 32-bit chunk end back to the scene data chunk
# (at byte 16): it reads the scene again and again, a new mesh every time.
at = len(scene(GOOD))
bad = scene(GOOD, after=struct.pack('<HI', 0x1234, 2**32 - (at - 16)))
write('wrapping_chunk_length.3ds', bad[:2] + struct.pack('<I', len(bad)) + bad[6:])

# Face normals are computed from pointL[index] with no check.
write('face_beyond_points.3ds', scene(named(b'm', points(TRIANGLE), faces([(0, 1, 60000)]))))
write('faces_without_points.3ds', scene(named(b'm', faces([(0, 1, 2)]))))

# A material group's face index is used to write into the face array unchecked.
group = chunk(0x4130, b'red\0' + struct.pack('<HH', 1, 60000))
write('material_group_face_beyond_faces.3ds', scene(named(b'm', points(TRIANGLE), faces([(0, 1, 2)], group))))

# Cut inside the second mesh: lib3ds reports success with what it made up.
whole = scene(GOOD, named(b'n', points(TRIANGLE * 4), faces([(0, 1, 2), (3, 4, 5)])))
write('truncated_scene.3ds', whole[:len(whole) - 30])

# A point count far beyond its chunk: lib3ds reads on into the next chunks.
write('point_count_beyond_chunk.3ds', scene(named(b'm', points([(0, 0, 0)], count=65535), faces([(0, 0, 0)]))))

# Strings without a terminator: lib3ds gives up and leaks the mesh or file it was building.
write('unterminated_group_name.3ds',
      scene(named(b'm', points(TRIANGLE), faces([(0, 1, 2)], chunk(0x4130, b'x' * 100)))))
obj = chunk(0x4000, b'y' * 80)
write('unterminated_object_name.3ds', scene(GOOD, obj))

# Three bytes after the last child of a mesh: lib3ds reads a header across the end.
tri = chunk(0x4100, points(TRIANGLE) + faces([(0, 1, 2)]) + b'\x10\x41\x00')
write('short_chunk_tail.3ds', scene(chunk(0x4000, b'm\0' + tri)))

# A coordinate that is not a number: lib3ds takes it, normals turn to NaN.
write('not_a_number_vertex.3ds',
      scene(named(b'm', points([(0, 0, 0), (float('nan'), 0, 0), (0, 1, 0)]), faces([(0, 1, 2)]))))

# Sections the model does not use are never handed to lib3ds, so damage there
# costs nothing. lib3ds alone gives up on a key-frame node whose name has no
# terminator, leaking every mesh it had read ...
node = chunk(0xB002, chunk(0xB030, struct.pack('<H', 0)) + chunk(0xB010, b'n' * 70 + struct.pack('<HHH', 0, 0, 0xFFFF)))
write('damaged_key_frames.3ds', scene(GOOD, after=chunk(0xB000, node)))

# ... and reads a key track of 2^31 keys on and on past the end of the file,
# allocating a key each time, until memory runs out.
track = chunk(0xB020, struct.pack('<HIIi', 0, 0, 0, 0x7FFFFFFF))
node = chunk(0xB002, chunk(0xB030, struct.pack('<H', 0)) +
             chunk(0xB010, b'm\0' + struct.pack('<HHH', 0, 0, 0xFFFF)) + track)
write('endless_key_track.3ds', scene(GOOD, after=chunk(0xB000, node)))
