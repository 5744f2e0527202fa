// Test-only interface file: record shapes that the vault files do not use but the
// settings and database files do (maps of lists, sets of numbers, lists of binaries,
// a record without fields, a void method).
include "structures.thrift"

struct Empty {}

struct Shapes {
  1: map<string, list<string>> lists,
  2: set<i32> numbers,
  3: list<binary> blobs,
  4: map<string, string> names,
  5: list<structures.U2FData> keys,
  6: double ratio,
  7: i32 count,
  8: i16 small,
}

const string GREETING = "hello"
const i32 ANSWER = 42

service ShapeService {
  void ping(1: Shapes shapes),
  Shapes echo(1: Shapes request),
}
