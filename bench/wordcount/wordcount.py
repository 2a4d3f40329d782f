# The peer of examples/wordcount.tqs: lines, words and characters of a file
# read line by line.
import sys

lines = words = chars = 0
with open(sys.argv[1], encoding="utf-8", newline="") as f:
    for line in f:
        line = line.rstrip("\r\n")
        lines += 1
        words += len(line.split())
        chars += len(line.encode("utf-8"))
print(f"{sys.argv[1]}: {lines} lines, {words} words, {chars} characters")
