#!/usr/bin/env python3
"""Prints the files of a mail folder in the order they arrived, oldest
first: by the time of the first (topmost) Received field, which the
receiving server wrote, else of the Date field.  A message with neither, or
with a time outside 1990-2030 (spam forges its dates), takes the time of
the message before it in name order.  Used by learn-quality.sh to learn
older mail and rate newer mail, as a user's store meets mail it has not
seen."""
import email.utils
import os
import sys


def header_fields(path):
    """(name in lower case, value) of each field of the header, unfolded."""
    fields = []
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip("\r\n")
            if line == "":
                break
            if line[:1] in (" ", "\t"):
                if fields:
                    fields[-1] = (fields[-1][0], fields[-1][1] + " " + line.strip())
            elif ":" in line:
                name, value = line.split(":", 1)
                fields.append((name.strip().lower(), value.strip()))
    return fields


def time_of(text):
    try:
        when = email.utils.parsedate_to_datetime(text)
    except (TypeError, ValueError, IndexError, OverflowError):
        return None
    if when is None or not 1990 < when.year < 2030:
        return None
    try:
        return when.timestamp()
    except (OverflowError, ValueError):
        return None


def arrival(path):
    fields = header_fields(path)
    received = [value for name, value in fields if name == "received"]
    when = None
    if received and ";" in received[0]:
        when = time_of(received[0].rsplit(";", 1)[1].strip())
    if when is None:
        dates = [value for name, value in fields if name == "date"]
        if dates:
            when = time_of(dates[0])
    return when


def main():
    folder = sys.argv[1]
    rows = []
    last = 0.0
    for index, name in enumerate(sorted(os.listdir(folder))):
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            continue
        when = arrival(path)
        if when is None:
            when = last
        last = when
        rows.append((when, index, path))
    for _, _, path in sorted(rows):
        print(path)


if __name__ == "__main__":
    main()
