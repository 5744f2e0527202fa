"""Independent decoder for the protocol tests: reads one record with python3-thrift and
writes it back. Usage: py_oracle.py GEN_PY_DIR CLASS compact|binary IN_FILE OUT_FILE"""
import sys

gen_dir, class_name, wire, in_file, out_file = sys.argv[1:6]
sys.path.insert(0, gen_dir)

from thrift.protocol import TBinaryProtocol, TCompactProtocol  # noqa: E402
from thrift.transport import TTransport  # noqa: E402

import protocols.ttypes  # noqa: E402
import structures.ttypes  # noqa: E402

cls = getattr(protocols.ttypes, class_name, None) or getattr(structures.ttypes, class_name)
factory = TCompactProtocol.TCompactProtocol if wire == "compact" else TBinaryProtocol.TBinaryProtocol

with open(in_file, "rb") as f:
    data = f.read()
record = cls()
record.read(factory(TTransport.TMemoryBuffer(data)))
out = TTransport.TMemoryBuffer()
record.write(factory(out))
with open(out_file, "wb") as f:
    f.write(out.getvalue())
print(repr(record))
