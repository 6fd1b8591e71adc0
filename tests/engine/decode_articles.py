#!/usr/bin/python3
"""Decodes articles with an independent yEnc decoder (python3-yenc) and checks
them against the files they were made from.

usage: decode_articles.py DIR
DIR holds NAME.partK.article files and the source files NAME."""
import os
import re
import sys
import zlib

import _yenc


def check(article_path, source_path):
    data = open(article_path, 'rb').read()
    assert data.endswith(b'\r\n.\r\n'), 'no end-of-article line'
    head, sep, body = data.partition(b'\r\n\r\n')
    assert sep, 'no blank line after the headers'
    lines = body.split(b'\r\n')
    assert lines[0].startswith(b'=ybegin '), lines[0]
    assert lines[1].startswith(b'=ypart '), lines[1]
    end_idx = max(i for i, l in enumerate(lines) if l.startswith(b'=yend '))
    assert lines[end_idx + 1:] == [b'.', b''], lines[end_idx + 1:]
    for l in lines[2:end_idx]:
        assert not l.startswith(b'.'), 'an encoded line starts with a dot'
        assert len(l) <= 129, 'line of %d characters' % len(l)
    ybegin = dict(re.findall(rb'(\w+)=(\S+)', lines[0].split(b' name=')[0]))
    ypart = dict(re.findall(rb'(\w+)=(\S+)', lines[1]))
    yend = dict(re.findall(rb'(\w+)=(\S+)', lines[end_idx]))
    decoded, _, _ = _yenc.decode_string(b'\r\n'.join(lines[2:end_idx]))
    begin, end = int(ypart[b'begin']), int(ypart[b'end'])
    with open(source_path, 'rb') as f:
        assert int(ybegin[b'size']) == os.fstat(f.fileno()).st_size
        f.seek(begin - 1)
        expected = f.read(end - begin + 1)
    assert decoded == expected, 'decoded bytes differ'
    assert int(yend[b'size']) == len(decoded)
    assert int(yend[b'pcrc32'], 16) == zlib.crc32(decoded), 'pcrc32 differs'
    assert yend[b'pcrc32'] == (b'%X' % zlib.crc32(decoded)), 'pcrc32 text form'


def main():
    folder = sys.argv[1]
    count = 0
    for name in sorted(os.listdir(folder)):
        m = re.match(r'(.+)\.part(\d+)\.article$', name)
        if not m:
            continue
        try:
            check(os.path.join(folder, name), os.path.join(folder, m.group(1)))
        except AssertionError as e:
            print('%s: %s' % (name, e))
            return 1
        count += 1
    print('%d articles decoded and verified' % count)
    return 0 if count else 1


if __name__ == '__main__':
    sys.exit(main())
