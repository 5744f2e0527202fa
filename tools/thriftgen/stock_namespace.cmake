# Copies an interface file with a `namespace cpp` line in front (for the stock generator).
file(READ ${IN} text)
file(WRITE ${OUT} "namespace cpp ${NS}\n${text}")
