# Copies an interface file for the stock generator: a `namespace cpp` line in front, and
# every struct field marked optional so that the stock code, like ours, writes only the
# fields that are set.
file(READ ${IN} text)
string(REGEX REPLACE "\n([ \t]*[0-9]+:)[ \t]*" "\n\\1 optional " text "${text}")
file(WRITE ${OUT} "namespace cpp ${NS}\n${text}")
