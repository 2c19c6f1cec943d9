#!/usr/bin/env python3
"""sealed_copy.py <engine> <package's setup.exe>: exit 0 when the second is
the engine as a build seals it: the same bytes but its 64-byte manifest
record, and the manifest ("VOLOKMAN...") appended."""
import sys

engine, sealed = (open(p, "rb").read() for p in sys.argv[1:3])
ok = len(sealed) > len(engine) and sealed[len(engine):].startswith(b"VOLOKMAN")
# The magic is in the engine's constants too: the record is the one whose
# bytes are the only ones that changed.
at, found = -1, False
while ok and not found:
    at = engine.find(b"VOLOK-MANIFEST-1", at + 1)
    if at < 0:
        break
    found = sealed[:at] == engine[:at] and sealed[at + 64:len(engine)] == engine[at + 64:]
sys.exit(0 if ok and found else 1)
