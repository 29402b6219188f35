#!/usr/bin/env python3
"""Lists the messages and findings in the sources that a document does not
show: documented.py SOURCE_DIR DOCUMENT...  (exit 1 when any is missing)
SOURCE_DIR is one program's directory (framedig or clockpull).

The texts are taken from the code itself, so a new one cannot be left out
of the documentation: every finding (what is written into a finding line
with snprintf), every error message (a literal that says error, failed,
please check ...) and the reasons a reference WAV file is refused. Each
conversion (%d, %s, ...) stands for a placeholder word in the document
("channel C: N parity errors"); a man page is read as mandoc renders it,
a README as its text with the Markdown marks taken out.
"""
import glob
import os
import re
import subprocess
import sys

LITERAL = r'"(?:[^"\\]|\\.)*"'
FINDING = re.compile(r'snprintf\(\s*(?:lines\[n\+\+\]\.data\(\)|line(?:\.data\(\))?)\s*,\s*[\w.()]+\s*,\s*((?:'
                     + LITERAL + r'\s*)+)')
MESSAGE = re.compile(LITERAL)
MESSAGE_WORDS = re.compile(r'rror|[Ff]ailed|[Ff]ail to|please|Unsurported|Unsupported|Invalid|Cannot|could not|must be|file is')
CONVERSION = re.compile(r'%[-+ #0-9.*]*(?:lld|ld|d|s|c|f|u|zu|x)')


def texts(source_dir):
    """(file, text) for every finding, message and refusal in the sources."""
    found = []
    for path in sorted(glob.glob(os.path.join(source_dir, '**', '*.cpp'), recursive=True)):
        code = open(path, encoding='utf-8').read()
        for match in FINDING.finditer(code):
            found.append((path, ''.join(re.findall(LITERAL, match.group(1))).replace('""', '')[1:-1]))
        for match in MESSAGE.finditer(code):
            text = match.group(0)[1:-1]
            if MESSAGE_WORDS.search(text) and ' ' in text.strip() and not text[:1].isspace() and not text.startswith('-'):
                found.append((path, text))
        if path.endswith('wav.cpp'):
            found += [(path, m.group(0)[1:-1]) for m in MESSAGE.finditer(code) if ' ' in m.group(0)[1:-1].strip()]
    return list(dict.fromkeys(found))


def pattern(text):
    """A regex for the text as a document shows it, or None for a fragment."""
    text = text.replace('\\n', '').replace('\\"', '"').strip()
    literal = CONVERSION.sub(' ', text)
    if len(re.findall(r'[A-Za-z]{2,}', literal)) < 3:
        return None
    parts = []
    for piece in re.split(r'(%[-+ #0-9.*]*(?:lld|ld|d|s|c|f|u|zu|x))', text):
        if CONVERSION.fullmatch(piece):
            parts.append(r'.*?' if piece.endswith('s') else r'\S+')
        else:
            parts.append(r'\s+'.join(re.escape(word) for word in piece.split()) if piece.strip() else r'\s*')
            if piece[:1].isspace():
                parts[-1] = r'\s*' + parts[-1]
            if piece[-1:].isspace():
                parts[-1] += r'\s*'
    return re.compile(''.join(parts))


def document_text(path):
    if path.endswith(('.1', '.8')):
        text = subprocess.run(['mandoc', '-T', 'ascii', '-O', 'width=1000', path],
                              capture_output=True, text=True, check=True).stdout
        text = re.sub(r'.\x08', '', text)
    else:
        text = open(path, encoding='utf-8').read().replace('`', '').replace('**', '').replace('\\|', '|')
    return ' '.join(text.split())


def main():
    source_dir, documents = sys.argv[1], sys.argv[2:]
    wanted = [(path, text, pattern(text)) for path, text in texts(source_dir)]
    wanted = [w for w in wanted if w[2] is not None]
    missing = 0
    for document in documents:
        shown = document_text(document)
        for path, text, regex in wanted:
            if not regex.search(shown):
                print(f'{document}: not documented: "{text}" ({os.path.relpath(path, source_dir)})')
                missing += 1
    print(f'{len(wanted)} texts checked')
    return 1 if missing else 0


if __name__ == '__main__':
    sys.exit(main())
