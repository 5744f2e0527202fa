#!/usr/bin/env python3
"""Record generator: turns one interface file into one C++ header and one source.

It reads the parse tree that `thrift --gen json` prints (for the file and every file it
includes) and writes, in namespace lumvane:
  - one class TBN<Name> per struct: is-set flag per field, getter name(), setName(),
    nameIsSet(), unsetName(), an all-fields constructor, write() in declaration order,
    a tolerant read(), equality, hash, description() and a log-safe summary();
  - TBN<file>Constants with one static function per constant;
  - per service: the interface TBN<Service>, argument records TBN<method>_args, result
    records TBN<Method>_result, TBN<Service>Client and TBN<Service>Processor.

Usage: thriftgen.py --thrift THRIFT --idl FILE --out DIR [--include-prefix idl] [-I DIR]...
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

PREFIX = "TBN"

TTYPE = {
    "bool": "T_BOOL",
    "byte": "T_BYTE",
    "i8": "T_BYTE",
    "i16": "T_I16",
    "i32": "T_I32",
    "i64": "T_I64",
    "double": "T_DOUBLE",
    "string": "T_STRING",
    "binary": "T_STRING",
    "struct": "T_STRUCT",
    "map": "T_MAP",
    "set": "T_SET",
    "list": "T_LIST",
}

SCALAR_CPP = {
    "bool": "bool",
    "byte": "int8_t",
    "i8": "int8_t",
    "i16": "int16_t",
    "i32": "int32_t",
    "i64": "int64_t",
    "double": "double",
}

SCALAR_IO = {
    "bool": "Bool",
    "byte": "Byte",
    "i8": "Byte",
    "i16": "I16",
    "i32": "I32",
    "i64": "I64",
    "double": "Double",
}

# Member names every record already uses; a field may not take one of them.
RESERVED = {"read", "write", "validate", "description", "summary", "hash", "isEqual"}

# Fields whose text is an opaque identifier and may appear in a log summary.
SUMMARY_SAFE_TEXT = {"id", "requestId", "contextName"}


def fail(msg):
    sys.stderr.write("thriftgen: " + msg + "\n")
    sys.exit(1)


# ---------------------------------------------------------------------------------------
# Parse tree loading


def run_thrift_json(thrift, idl, include_dirs):
    with tempfile.TemporaryDirectory() as tmp:
        cmd = [thrift, "--gen", "json"]
        for d in include_dirs:
            cmd += ["-I", d]
        cmd += ["-o", tmp, idl]
        proc = subprocess.run(cmd, capture_output=True, text=True)
        if proc.returncode != 0:
            fail("thrift failed on %s:\n%s%s" % (idl, proc.stdout, proc.stderr))
        name = os.path.splitext(os.path.basename(idl))[0]
        with open(os.path.join(tmp, "gen-json", name + ".json"), encoding="utf-8") as f:
            return json.load(f)


def find_include(name, base_dir, include_dirs):
    for d in [base_dir] + include_dirs:
        path = os.path.join(d, name + ".thrift")
        if os.path.exists(path):
            return path
    fail("cannot find included file %s.thrift" % name)


def normalize(type_id, type_obj):
    """Turns the parse tree's type description into {'id', 'class'|'elem'|'key','val'}."""
    type_obj = type_obj or {}
    t = {"id": type_id}
    if type_id == "struct":
        cls = type_obj.get("class")
        t["class"] = cls.split(".")[-1]
    elif type_id in ("list", "set"):
        t["elem"] = normalize(type_obj["elemTypeId"], type_obj.get("elemType"))
    elif type_id == "map":
        t["key"] = normalize(type_obj["keyTypeId"], type_obj.get("keyType"))
        t["val"] = normalize(type_obj["valueTypeId"], type_obj.get("valueType"))
    elif type_id not in TTYPE:
        fail("unsupported type " + type_id)
    return t


CPP_KEYWORDS = {
    "alignas", "alignof", "and", "asm", "auto", "bool", "break", "case", "catch", "char",
    "class", "const", "constexpr", "continue", "default", "delete", "do", "double", "else",
    "enum", "explicit", "export", "extern", "false", "float", "for", "friend", "goto", "if",
    "inline", "int", "long", "mutable", "namespace", "new", "noexcept", "not", "nullptr",
    "operator", "or", "private", "protected", "public", "register", "return", "short",
    "signed", "sizeof", "static", "struct", "switch", "template", "this", "throw", "true",
    "try", "typedef", "typename", "union", "unsigned", "using", "virtual", "void", "volatile",
    "while", "xor",
}


def field_of(f):
    t = normalize(f["typeId"], f.get("type"))
    name = f["name"]
    if name in RESERVED:
        fail("field name %s collides with a record operation" % name)
    if name in CPP_KEYWORDS:
        fail("field name %s is a C++ keyword" % name)
    return {"name": name, "id": f["key"], "type": t}


# ---------------------------------------------------------------------------------------
# C++ types


def cap(name):
    return name[:1].upper() + name[1:]


def rec(name):
    return PREFIX + name


def elem_cpp(t):
    """Type of a value inside a container (never null)."""
    k = t["id"]
    if k in SCALAR_CPP:
        return SCALAR_CPP[k]
    if k == "string":
        return "std::string"
    if k == "binary":
        return "Bytes"
    if k == "struct":
        return "std::shared_ptr<%s>" % rec(t["class"])
    if k == "list":
        return "std::vector<%s>" % elem_cpp(t["elem"])
    if k == "set":
        if t["elem"]["id"] in ("struct", "list", "set", "map", "double"):
            fail("sets of %s are not supported" % t["elem"]["id"])
        return "std::set<%s>" % elem_cpp(t["elem"])
    if k == "map":
        if t["key"]["id"] in ("struct", "list", "set", "map", "double"):
            fail("map keys of %s are not supported" % t["key"]["id"])
        return "std::map<%s, %s>" % (elem_cpp(t["key"]), elem_cpp(t["val"]))
    fail("unsupported type " + k)


def field_cpp(t):
    """Type a field is held as: scalars by value, texts optional, the rest shared."""
    k = t["id"]
    if k in SCALAR_CPP:
        return SCALAR_CPP[k]
    if k in ("string", "binary"):
        return "std::optional<%s>" % elem_cpp(t)
    if k == "struct":
        return elem_cpp(t)
    return "std::shared_ptr<%s>" % elem_cpp(t)


def is_scalar(t):
    return t["id"] in SCALAR_CPP


def is_shared(t):
    return t["id"] in ("struct", "list", "set", "map")


# ---------------------------------------------------------------------------------------
# Code for values


class Counter:
    def __init__(self):
        self.n = 0

    def next(self):
        self.n += 1
        return self.n


def write_value(t, expr, ind, lines, counter):
    k = t["id"]
    if k in SCALAR_IO:
        lines.append("%sxfer += oprot->write%s(%s);" % (ind, SCALAR_IO[k], expr))
    elif k == "string":
        lines.append("%sxfer += oprot->writeString(%s);" % (ind, expr))
    elif k == "binary":
        lines.append("%sxfer += thriftsupport::writeBytes(*oprot, %s);" % (ind, expr))
    elif k == "struct":
        # expr is a shared pointer here
        lines.append("%sif (%s) {" % (ind, expr))
        lines.append("%s    xfer += %s->write(oprot);" % (ind, expr))
        lines.append("%s} else {" % ind)
        lines.append('%s    xfer += thriftsupport::writeEmptyStruct(*oprot, "%s");'
                     % (ind, t["class"]))
        lines.append("%s}" % ind)
    elif k in ("list", "set"):
        n = counter.next()
        kind = "List" if k == "list" else "Set"
        lines.append("%sxfer += oprot->write%sBegin(apache::thrift::protocol::%s, "
                     "static_cast<uint32_t>(%s.size()));"
                     % (ind, kind, TTYPE[t["elem"]["id"]], expr))
        lines.append("%sfor (const auto& e%d : %s) {" % (ind, n, expr))
        write_value(t["elem"], "e%d" % n, ind + "    ", lines, counter)
        lines.append("%s}" % ind)
        lines.append("%sxfer += oprot->write%sEnd();" % (ind, kind))
    elif k == "map":
        n = counter.next()
        lines.append("%sxfer += oprot->writeMapBegin(apache::thrift::protocol::%s, "
                     "apache::thrift::protocol::%s, static_cast<uint32_t>(%s.size()));"
                     % (ind, TTYPE[t["key"]["id"]], TTYPE[t["val"]["id"]], expr))
        lines.append("%sfor (const auto& [k%d, v%d] : %s) {" % (ind, n, n, expr))
        write_value(t["key"], "k%d" % n, ind + "    ", lines, counter)
        write_value(t["val"], "v%d" % n, ind + "    ", lines, counter)
        lines.append("%s}" % ind)
        lines.append("%sxfer += oprot->writeMapEnd();" % ind)
    else:
        fail("cannot write " + k)


def read_value(t, target, ind, lines, counter):
    """Reads one value of type t into the existing variable `target` (an elem_cpp)."""
    k = t["id"]
    if k in SCALAR_IO:
        lines.append("%sxfer += iprot->read%s(%s);" % (ind, SCALAR_IO[k], target))
    elif k == "string":
        lines.append("%sxfer += iprot->readString(%s);" % (ind, target))
    elif k == "binary":
        lines.append("%sxfer += thriftsupport::readBytes(*iprot, %s);" % (ind, target))
    elif k == "struct":
        lines.append("%s%s = thriftsupport::makeShared<%s>();" % (ind, target, rec(t["class"])))
        lines.append("%sxfer += %s->read(iprot);" % (ind, target))
    elif k in ("list", "set", "map"):
        n = counter.next()
        lines.append("%s{" % ind)
        i2 = ind + "    "
        lines.append("%suint32_t size%d = 0;" % (i2, n))
        if k == "map":
            lines.append("%sapache::thrift::protocol::TType ktype%d, vtype%d;" % (i2, n, n))
            lines.append("%sxfer += iprot->readMapBegin(ktype%d, vtype%d, size%d);"
                         % (i2, n, n, n))
        else:
            kind = "List" if k == "list" else "Set"
            lines.append("%sapache::thrift::protocol::TType etype%d;" % (i2, n))
            lines.append("%sxfer += iprot->read%sBegin(etype%d, size%d);" % (i2, kind, n, n))
        lines.append("%sthriftsupport::ScopedElementBudget::charge(size%d);" % (i2, n))
        lines.append("%s%s.clear();" % (i2, target))
        if k == "list":
            lines.append("%s%s.reserve(thriftsupport::boundedReserve(size%d, *iprot));"
                         % (i2, target, n))
        lines.append("%sfor (uint32_t i%d = 0; i%d < size%d; ++i%d) {" % (i2, n, n, n, n))
        i3 = i2 + "    "
        if k == "map":
            lines.append("%s%s key%d{};" % (i3, elem_cpp(t["key"]), n))
            lines.append("%s%s val%d{};" % (i3, elem_cpp(t["val"]), n))
            read_value(t["key"], "key%d" % n, i3, lines, counter)
            read_value(t["val"], "val%d" % n, i3, lines, counter)
            lines.append("%s%s.insert_or_assign(std::move(key%d), std::move(val%d));"
                         % (i3, target, n, n))
        else:
            lines.append("%s%s elem%d{};" % (i3, elem_cpp(t["elem"]), n))
            read_value(t["elem"], "elem%d" % n, i3, lines, counter)
            op = "push_back" if k == "list" else "insert"
            lines.append("%s%s.%s(std::move(elem%d));" % (i3, target, op, n))
        lines.append("%s}" % i2)
        if k == "map":
            lines.append("%sxfer += iprot->readMapEnd();" % i2)
        else:
            lines.append("%sxfer += iprot->read%sEnd();" % (i2, "List" if k == "list" else "Set"))
        lines.append("%s}" % ind)
    else:
        fail("cannot read " + k)


# ---------------------------------------------------------------------------------------
# Records


def gen_record_decl(name, wire_name, fields, out):
    cls = rec(name)
    out.append("class %s : public apache::thrift::TBase {" % cls)
    out.append(" public:")
    out.append("    %s() = default;" % cls)
    if fields:
        params = ",\n        ".join("%s %s" % (field_cpp(f["type"]), f["name"]) for f in fields)
        explicit = "explicit " if len(fields) == 1 else ""
        out.append("    // Marks every field set, null references included.")
        out.append("    %s%s(\n        %s);" % (explicit, cls, params))
    out.append("")
    out.append('    static constexpr const char* kWireName = "%s";' % wire_name)
    out.append("")
    for f in fields:
        n, t = f["name"], f["type"]
        ct = field_cpp(t)
        if is_scalar(t):
            out.append("    %s %s() const { return %s_; }" % (ct, n, n))
            out.append("    void set%s(%s value) {" % (cap(n), ct))
            out.append("        %s_ = value;" % n)
        else:
            out.append("    const %s& %s() const { return %s_; }" % (ct, n, n))
            out.append("    void set%s(%s value) {" % (cap(n), ct))
            out.append("        %s_ = std::move(value);" % n)
        out.append("        isSet_.%s = true;" % n)
        out.append("    }")
        out.append("    bool %sIsSet() const { return isSet_.%s; }" % (n, n))
        out.append("    void unset%s() {" % cap(n))
        if not is_scalar(t):
            out.append("        %s_.reset();" % n)
        out.append("        isSet_.%s = false;" % n)
        out.append("    }")
        out.append("")
    out.append("    uint32_t read(apache::thrift::protocol::TProtocol* iprot) override;")
    out.append("    uint32_t write(apache::thrift::protocol::TProtocol* oprot) const override;")
    out.append("    void validate() const {}")
    out.append("")
    out.append("    // Every field, set or not, secrets in clear: never put it in a log line.")
    out.append("    std::string description() const;")
    out.append("    // Set fields with numbers and sizes only: what a log line may carry.")
    out.append("    std::string summary() const;")
    out.append("")
    out.append("    bool operator==(const %s& other) const;" % cls)
    out.append("    // True when `other` is a %s (or derived from it) with equal values." % cls)
    out.append("    bool isEqual(const apache::thrift::TBase& other) const;")
    out.append("    size_t hash() const;")
    out.append("")
    out.append(" private:")
    for f in fields:
        init = ""
        if is_scalar(f["type"]):
            init = " = 0" if f["type"]["id"] != "bool" else " = false"
        out.append("    %s %s_%s;" % (field_cpp(f["type"]), f["name"], init))
    if fields:
        out.append("    struct {")
        for f in fields:
            out.append("        bool %s = false;" % f["name"])
        out.append("    } isSet_;")
    out.append("};")
    out.append("")


def gen_record_impl(name, fields, out):
    cls = rec(name)
    if fields:
        params = ",\n    ".join("%s %s" % (field_cpp(f["type"]), f["name"]) for f in fields)
        out.append("%s::%s(\n    %s)" % (cls, cls, params))
        inits = []
        for f in fields:
            v = f["name"] if is_scalar(f["type"]) else "std::move(%s)" % f["name"]
            inits.append("%s_(%s)" % (f["name"], v))
        out.append("    : " + ",\n      ".join(inits) + " {")
        for f in fields:
            out.append("    isSet_.%s = true;" % f["name"])
        out.append("}")
        out.append("")

    # write
    out.append("uint32_t %s::write(apache::thrift::protocol::TProtocol* oprot) const {" % cls)
    out.append("    apache::thrift::protocol::TOutputRecursionTracker tracker(*oprot);")
    out.append("    uint32_t xfer = 0;")
    out.append("    xfer += oprot->writeStructBegin(kWireName);")
    counter = Counter()
    for f in fields:
        n, t = f["name"], f["type"]
        cond = "isSet_.%s" % n
        if not is_scalar(t):
            cond += " && %s_" % n
        out.append("    if (%s) {" % cond)
        out.append('        xfer += oprot->writeFieldBegin("%s", apache::thrift::protocol::%s, %d);'
                   % (n, TTYPE[t["id"]], f["id"]))
        if is_scalar(t):
            expr = "%s_" % n
        elif t["id"] == "struct":
            expr = "%s_" % n  # shared pointer, known non-null here
        else:
            expr = "(*%s_)" % n
        if t["id"] == "struct":
            out.append("        xfer += %s_->write(oprot);" % n)
        else:
            write_value(t, expr, "        ", out, counter)
        out.append("        xfer += oprot->writeFieldEnd();")
        out.append("    }")
    out.append("    xfer += oprot->writeFieldStop();")
    out.append("    xfer += oprot->writeStructEnd();")
    out.append("    return xfer;")
    out.append("}")
    out.append("")

    # read
    out.append("uint32_t %s::read(apache::thrift::protocol::TProtocol* iprot) {" % cls)
    out.append("    apache::thrift::protocol::TInputRecursionTracker tracker(*iprot);")
    out.append("    uint32_t xfer = 0;")
    out.append("    std::string fname;")
    out.append("    apache::thrift::protocol::TType ftype;")
    out.append("    int16_t fid;")
    out.append("    xfer += iprot->readStructBegin(fname);")
    out.append("    while (true) {")
    out.append("        xfer += iprot->readFieldBegin(fname, ftype, fid);")
    out.append("        if (ftype == apache::thrift::protocol::T_STOP) break;")
    if fields:
        out.append("        switch (fid) {")
        for f in fields:
            n, t = f["name"], f["type"]
            out.append("            case %d:" % f["id"])
            out.append("                if (ftype == apache::thrift::protocol::%s) {" % TTYPE[t["id"]])
            ind = "                    "
            if t["id"] == "string":
                # Straight into the member: no temporary, and a reused buffer keeps its room.
                out.append("%sif (!%s_) %s_.emplace();" % (ind, n, n))
                out.append("%sxfer += iprot->readString(*%s_);" % (ind, n))
                out.append("%sisSet_.%s = true;" % (ind, n))
            elif is_scalar(t):
                read_value(t, "%s_" % n, ind, out, counter)
                out.append("%sisSet_.%s = true;" % (ind, n))
            elif t["id"] in ("binary", "struct"):
                out.append("%s%s value{};" % (ind, elem_cpp(t)))
                read_value(t, "value", ind, out, counter)
            else:
                out.append("%sauto value = thriftsupport::makeShared<%s>();" % (ind, elem_cpp(t)))
                read_value(t, "(*value)", ind, out, counter)
            if not (is_scalar(t) or t["id"] == "string"):
                out.append("%sset%s(std::move(value));" % (ind, cap(n)))
            out.append("                } else {")
            out.append("                    xfer += iprot->skip(ftype);")
            out.append("                }")
            out.append("                break;")
        out.append("            default:")
        out.append("                xfer += iprot->skip(ftype);")
        out.append("                break;")
        out.append("        }")
    else:
        out.append("        xfer += iprot->skip(ftype);")
    out.append("        xfer += iprot->readFieldEnd();")
    out.append("    }")
    out.append("    xfer += iprot->readStructEnd();")
    out.append("    return xfer;")
    out.append("}")
    out.append("")

    # equality
    out.append("bool %s::operator==(const %s& other) const {" % (cls, cls))
    out.append("    if (this == &other) return true;")
    for f in fields:
        n = f["name"]
        out.append("    if (isSet_.%s != other.isSet_.%s) return false;" % (n, n))
        out.append("    if (isSet_.%s && !thriftsupport::equalValues(%s_, other.%s_)) return false;"
                   % (n, n, n))
    if not fields:
        out.append("    (void)other;")
    out.append("    return true;")
    out.append("}")
    out.append("")
    out.append("bool %s::isEqual(const apache::thrift::TBase& other) const {" % cls)
    out.append("    const auto* same = dynamic_cast<const %s*>(&other);" % cls)
    out.append("    return same != nullptr && *this == *same;")
    out.append("}")
    out.append("")
    out.append("size_t %s::hash() const {" % cls)
    out.append("    size_t seed = %dU;" % (len(fields) + 31))
    for f in fields:
        n = f["name"]
        out.append("    if (isSet_.%s) thriftsupport::hashCombine(seed, thriftsupport::hashValue(%s_));"
                   % (n, n))
        out.append("    else thriftsupport::hashCombine(seed, %dU);" % (f["id"] & 0xffff))
    out.append("    return seed;")
    out.append("}")
    out.append("")

    # description
    out.append("std::string %s::description() const {" % cls)
    out.append('    std::string out = "%s(";' % cls)
    for i, f in enumerate(fields):
        n = f["name"]
        sep = "," if i else ""
        out.append('    out += "%s%s:";' % (sep, n))
        out.append("    thriftsupport::describe(out, %s_);" % n)
    out.append("    out += ')';")
    out.append("    return out;")
    out.append("}")
    out.append("")

    # summary
    out.append("std::string %s::summary() const {" % cls)
    out.append('    std::string out = "%s(";' % cls)
    if fields:
        out.append("    bool first = true;")
        out.append("    auto label = [&](const char* name) {")
        out.append("        if (!first) out += ',';")
        out.append("        first = false;")
        out.append("        out += name;")
        out.append("        out += ':';")
        out.append("    };")
    for f in fields:
        n, t = f["name"], f["type"]
        out.append("    if (isSet_.%s) {" % n)
        out.append('        label("%s");' % n)
        if t["id"] == "string" and n in SUMMARY_SAFE_TEXT:
            out.append("        thriftsupport::describe(out, %s_);" % n)
        else:
            out.append("        thriftsupport::summarize(out, %s_);" % n)
        out.append("    }")
    out.append("    out += ')';")
    out.append("    return out;")
    out.append("}")
    out.append("")


# ---------------------------------------------------------------------------------------
# Constants


def const_cpp(c):
    k = c["typeId"]
    v = c["value"]
    if k == "string":
        return "std::string", json.dumps(v, ensure_ascii=False)
    if k in ("i8", "byte", "i16", "i32", "i64"):
        ct = SCALAR_CPP[k]
        if k == "i64":
            return ct, "INT64_C(%d)" % v
        return ct, str(v)
    if k == "double":
        return "double", repr(float(v))
    if k == "bool":
        return "bool", "true" if v else "false"
    fail("constants of type %s are not supported" % k)


def gen_constants(file_name, constants, out):
    cls = "%s%sConstants" % (PREFIX, file_name)
    out.append("// The constants of the interface file; each call returns the same value.")
    out.append("class %s {" % cls)
    out.append(" public:")
    out.append("    %s() = delete;" % cls)
    for c in constants:
        ct, v = const_cpp(c)
        if ct == "std::string":
            out.append("    static std::string %s() { return %s; }" % (c["name"], v))
        else:
            out.append("    static constexpr %s %s() { return %s; }" % (ct, c["name"], v))
    out.append("};")
    out.append("")


# ---------------------------------------------------------------------------------------
# Services


def service_methods(svc):
    methods = []
    for fn in svc["functions"]:
        args = [field_of(a) for a in fn["arguments"]]
        ret = None
        if fn["returnTypeId"] != "void":
            ret = normalize(fn["returnTypeId"], fn.get("returnType"))
        if fn["exceptions"]:
            fail("declared exceptions are not supported (%s)" % fn["name"])
        methods.append({"name": fn["name"], "args": args, "ret": ret, "oneway": fn["oneway"]})
    return methods


def args_name(m):
    return m["name"] + "_args"


def result_name(m):
    return cap(m["name"]) + "_result"


def result_fields(m):
    if m["ret"] is None:
        return []
    return [{"name": "success", "id": 0, "type": m["ret"]}]


def ret_cpp(m):
    return "void" if m["ret"] is None else field_cpp(m["ret"])


def arg_params(m):
    return ", ".join("%s %s" % (field_cpp(a["type"]), a["name"]) for a in m["args"])


def gen_service_decl(svc, methods, out):
    name = rec(svc["name"])
    out.append("// The %s handler: one operation per method of the service." % svc["name"])
    out.append("class %s {" % name)
    out.append(" public:")
    out.append("    virtual ~%s() = default;" % name)
    for m in methods:
        out.append("    virtual %s %s(%s) = 0;" % (ret_cpp(m), m["name"], arg_params(m)))
    out.append("};")
    out.append("")

    out.append("// Calls the service through one protocol pair. Every call carries the sequence")
    out.append("// id 0; a reply is read without comparing its name or sequence id with the call.")
    out.append("// Nothing is caught: transport and protocol failures pass to the caller, an")
    out.append("// EXCEPTION reply is thrown as the peer's TApplicationException.")
    out.append("class %sClient : public %s {" % (name, name))
    out.append(" public:")
    out.append("    explicit %sClient(std::shared_ptr<apache::thrift::protocol::TProtocol> protocol);"
               % name)
    out.append("    %sClient(std::shared_ptr<apache::thrift::protocol::TProtocol> inProtocol,"
               % name)
    out.append("        std::shared_ptr<apache::thrift::protocol::TProtocol> outProtocol);")
    out.append("")
    for m in methods:
        out.append("    %s %s(%s) override;" % (ret_cpp(m), m["name"], arg_params(m)))
        out.append("    void send_%s(%s);" % (m["name"], arg_params(m)))
        if not m["oneway"]:
            out.append("    %s recv_%s();" % (ret_cpp(m), m["name"]))
    out.append("")
    out.append("    const std::shared_ptr<apache::thrift::protocol::TProtocol>& inputProtocol() const {")
    out.append("        return inProtocol_;")
    out.append("    }")
    out.append("    const std::shared_ptr<apache::thrift::protocol::TProtocol>& outputProtocol() const {")
    out.append("        return outProtocol_;")
    out.append("    }")
    out.append("")
    out.append(" private:")
    out.append("    std::shared_ptr<apache::thrift::protocol::TProtocol> inProtocol_;")
    out.append("    std::shared_ptr<apache::thrift::protocol::TProtocol> outProtocol_;")
    out.append("};")
    out.append("")

    out.append("// Serves one message per process() call. A method it does not know is answered")
    out.append("// with an EXCEPTION message (UNKNOWN_METHOD), a known one with exactly one REPLY;")
    out.append("// the message type of the incoming header is not examined. Nothing is caught.")
    out.append("// The processor does not change after construction, so calls may run on several")
    out.append("// threads at once, each with its own protocols.")
    out.append("class %sProcessor : public apache::thrift::TProcessor {" % name)
    out.append(" public:")
    out.append("    explicit %sProcessor(std::shared_ptr<%s> service);" % (name, name))
    out.append("")
    out.append("    const std::shared_ptr<%s>& service() const { return mService; }" % name)
    out.append("")
    out.append("    using apache::thrift::TProcessor::process;")
    out.append("    bool process(std::shared_ptr<apache::thrift::protocol::TProtocol> in,")
    out.append("        std::shared_ptr<apache::thrift::protocol::TProtocol> out,")
    out.append("        void* connectionContext) override;")
    out.append("    bool processOnInputProtocol(apache::thrift::protocol::TProtocol* in,")
    out.append("        apache::thrift::protocol::TProtocol* out);")
    out.append("")
    out.append(" private:")
    out.append("    using ProcessFunction = void (%sProcessor::*)(int32_t,"
               % name)
    out.append("        apache::thrift::protocol::TProtocol*, apache::thrift::protocol::TProtocol*);")
    out.append("")
    for m in methods:
        out.append("    void process_%s(int32_t seqid, apache::thrift::protocol::TProtocol* in,"
                   % m["name"])
        out.append("        apache::thrift::protocol::TProtocol* out);")
    out.append("")
    out.append("    std::shared_ptr<%s> mService;" % name)
    out.append("    std::map<std::string, ProcessFunction, std::less<>> mMethodMap;")
    out.append("};")
    out.append("")


def gen_service_impl(svc, methods, out):
    name = rec(svc["name"])
    P = "apache::thrift::protocol"
    out.append("%sClient::%sClient(std::shared_ptr<%s::TProtocol> protocol)" % (name, name, P))
    out.append("    : inProtocol_(protocol), outProtocol_(protocol) {}")
    out.append("")
    out.append("%sClient::%sClient(std::shared_ptr<%s::TProtocol> inProtocol," % (name, name, P))
    out.append("    std::shared_ptr<%s::TProtocol> outProtocol)" % P)
    out.append("    : inProtocol_(std::move(inProtocol)), outProtocol_(std::move(outProtocol)) {}")
    out.append("")
    for m in methods:
        mn = m["name"]
        argnames = ", ".join(a["name"] for a in m["args"])
        out.append("%s %sClient::%s(%s) {" % (ret_cpp(m), name, mn, arg_params(m)))
        out.append("    send_%s(%s);" % (mn, argnames))
        out.append("    outProtocol_->getTransport()->flush();")
        if not m["oneway"]:
            if m["ret"] is None:
                out.append("    recv_%s();" % mn)
            else:
                out.append("    return recv_%s();" % mn)
        out.append("}")
        out.append("")
        out.append("void %sClient::send_%s(%s) {" % (name, mn, arg_params(m)))
        msg_type = "T_ONEWAY" if m["oneway"] else "T_CALL"
        out.append('    outProtocol_->writeMessageBegin("%s", %s::%s, 0);' % (mn, P, msg_type))
        out.append("    %s args;" % rec(args_name(m)))
        for a in m["args"]:
            out.append("    args.set%s(std::move(%s));" % (cap(a["name"]), a["name"]))
        out.append("    args.write(outProtocol_.get());")
        out.append("    outProtocol_->writeMessageEnd();")
        out.append("    outProtocol_->getTransport()->writeEnd();")
        out.append("}")
        out.append("")
        if m["oneway"]:
            continue
        out.append("%s %sClient::recv_%s() {" % (ret_cpp(m), name, mn))
        out.append("    std::string fname;")
        out.append("    %s::TMessageType mtype;" % P)
        out.append("    int32_t seqid = 0;")
        out.append("    inProtocol_->readMessageBegin(fname, mtype, seqid);")
        out.append("    if (mtype == %s::T_EXCEPTION) {" % P)
        out.append("        apache::thrift::TApplicationException x;")
        out.append("        x.read(inProtocol_.get());")
        out.append("        inProtocol_->readMessageEnd();")
        out.append("        inProtocol_->getTransport()->readEnd();")
        out.append("        throw x;")
        out.append("    }")
        out.append("    %s result;" % rec(result_name(m)))
        out.append("    {")
        out.append("        thriftsupport::ScopedElementBudget budget;")
        out.append("        result.read(inProtocol_.get());")
        out.append("    }")
        out.append("    inProtocol_->readMessageEnd();")
        out.append("    inProtocol_->getTransport()->readEnd();")
        if m["ret"] is not None:
            out.append("    if (!result.successIsSet()) {")
            out.append("        throw apache::thrift::TApplicationException(")
            out.append("            apache::thrift::TApplicationException::MISSING_RESULT,")
            out.append('            "%s failed: unknown result");' % mn)
            out.append("    }")
            out.append("    return result.success();")
        out.append("}")
        out.append("")

    out.append("%sProcessor::%sProcessor(std::shared_ptr<%s> service)" % (name, name, name))
    out.append("    : mService(std::move(service)) {")
    for m in methods:
        out.append('    mMethodMap.emplace("%s", &%sProcessor::process_%s);' % (m["name"], name, m["name"]))
    out.append("}")
    out.append("")
    out.append("bool %sProcessor::process(std::shared_ptr<%s::TProtocol> in," % (name, P))
    out.append("    std::shared_ptr<%s::TProtocol> out, void* /*connectionContext*/) {" % P)
    out.append("    return processOnInputProtocol(in.get(), out.get());")
    out.append("}")
    out.append("")
    out.append("bool %sProcessor::processOnInputProtocol(%s::TProtocol* in, %s::TProtocol* out) {"
               % (name, P, P))
    out.append("    std::string fname;")
    out.append("    %s::TMessageType mtype;" % P)
    out.append("    int32_t seqid = 0;")
    out.append("    in->readMessageBegin(fname, mtype, seqid);")
    out.append("    auto it = mMethodMap.find(fname);")
    out.append("    if (it == mMethodMap.end()) {")
    out.append("        in->skip(%s::T_STRUCT);" % P)
    out.append("        in->readMessageEnd();")
    out.append("        in->getTransport()->readEnd();")
    out.append("        apache::thrift::TApplicationException x(")
    out.append("            apache::thrift::TApplicationException::UNKNOWN_METHOD,")
    out.append("            \"Invalid method name: '\" + fname + \"'\");")
    out.append("        out->writeMessageBegin(fname, %s::T_EXCEPTION, seqid);" % P)
    out.append("        x.write(out);")
    out.append("        out->writeMessageEnd();")
    out.append("        out->getTransport()->writeEnd();")
    out.append("        out->getTransport()->flush();")
    out.append("        return true;")
    out.append("    }")
    out.append("    (this->*(it->second))(seqid, in, out);")
    out.append("    return true;")
    out.append("}")
    out.append("")
    for m in methods:
        mn = m["name"]
        out.append("void %sProcessor::process_%s(int32_t seqid, %s::TProtocol* in, %s::TProtocol* out) {"
                   % (name, mn, P, P))
        out.append("    %s args;" % rec(args_name(m)))
        out.append("    {")
        out.append("        thriftsupport::ScopedElementBudget budget;")
        out.append("        args.read(in);")
        out.append("    }")
        out.append("    in->readMessageEnd();")
        out.append("    in->getTransport()->readEnd();")
        call_args = ", ".join("args.%s()" % a["name"] for a in m["args"])
        if m["oneway"]:
            out.append("    (void)seqid;")
            out.append("    (void)out;")
            out.append("    mService->%s(%s);" % (mn, call_args))
            out.append("}")
            out.append("")
            continue
        out.append("    %s result;" % rec(result_name(m)))
        if m["ret"] is None:
            out.append("    mService->%s(%s);" % (mn, call_args))
        else:
            out.append("    result.setSuccess(mService->%s(%s));" % (mn, call_args))
        out.append('    out->writeMessageBegin("%s", %s::T_REPLY, seqid);' % (mn, P))
        out.append("    result.write(out);")
        out.append("    out->writeMessageEnd();")
        out.append("    out->getTransport()->writeEnd();")
        out.append("    out->getTransport()->flush();")
        out.append("}")
        out.append("")


# ---------------------------------------------------------------------------------------
# Files


def generate(tree, file_name, include_names, include_prefix):
    structs = []
    for s in tree["structs"]:
        if s["isUnion"] or s["isException"]:
            fail("unions and exceptions are not supported (%s)" % s["name"])
        structs.append((s["name"], s["name"], [field_of(f) for f in s["fields"]]))
    services = [(svc, service_methods(svc)) for svc in tree["services"]]
    for svc, methods in services:
        for m in methods:
            structs.append((args_name(m), args_name(m), m["args"]))
            if not m["oneway"]:
                structs.append((result_name(m), result_name(m), result_fields(m)))

    guard_note = "// Generated by tools/thriftgen from %s.thrift. Do not edit." % file_name
    h = [guard_note, "#pragma once", ""]
    for inc in ["cstdint", "map", "memory", "optional", "set", "string", "vector"]:
        h.append("#include <%s>" % inc)
    h.append("")
    h.append("#include <thrift/TApplicationException.h>")
    h.append("#include <thrift/TBase.h>")
    h.append("#include <thrift/TProcessor.h>")
    h.append("#include <thrift/protocol/TProtocol.h>")
    h.append("")
    h.append('#include "protocol/RecordSupport.h"')
    h.append('#include "runtime/Bytes.h"')
    for inc in include_names:
        h.append('#include "%s/%s.h"' % (include_prefix, inc))
    h.append("")
    h.append("namespace lumvane {")
    h.append("")
    for name, _, _ in structs:
        h.append("class %s;" % rec(name))
    h.append("")
    for name, wire, fields in structs:
        gen_record_decl(name, wire, fields, h)
    gen_constants(file_name, tree["constants"], h)
    for svc, methods in services:
        gen_service_decl(svc, methods, h)
    h.append("}  // namespace lumvane")
    h.append("")

    c = [guard_note, '#include "%s/%s.h"' % (include_prefix, file_name), "", "#include <utility>", "",
         '#include "protocol/RecordPool.h"', ""]
    c.append("namespace lumvane {")
    c.append("")
    for name, _, fields in structs:
        gen_record_impl(name, fields, c)
    for svc, methods in services:
        gen_service_impl(svc, methods, c)
    c.append("}  // namespace lumvane")
    c.append("")
    return "\n".join(h), "\n".join(c)


def write_file(path, text):
    # An unchanged file keeps its time stamp, so what includes it is not rebuilt.
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--thrift", required=True)
    ap.add_argument("--idl", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--include-prefix", default="idl")
    ap.add_argument("-I", dest="include_dirs", action="append", default=[])
    a = ap.parse_args()

    base = os.path.dirname(os.path.abspath(a.idl))
    tree = run_thrift_json(a.thrift, a.idl, a.include_dirs)
    for inc in tree["includes"]:
        find_include(inc, base, a.include_dirs)  # fails early on a missing file
    file_name = os.path.splitext(os.path.basename(a.idl))[0]
    header, source = generate(tree, file_name, tree["includes"], a.include_prefix)
    os.makedirs(a.out, exist_ok=True)
    write_file(os.path.join(a.out, file_name + ".h"), header)
    write_file(os.path.join(a.out, file_name + ".cpp"), source)


if __name__ == "__main__":
    main()
