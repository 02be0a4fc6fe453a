#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks every line of JSON Lines files against a JSON Schema.

Usage: validate-jsonl.py SCHEMA FILE...  (exit 0 when every line is valid)
"""
import json
import sys

import jsonschema


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    bad = 0
    lines = 0
    for name in sys.argv[2:]:
        with open(name, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                lines += 1
                try:
                    event = json.loads(line)
                except ValueError as error:
                    print(f"{name}:{number}: not JSON: {error}", file=sys.stderr)
                    bad += 1
                    continue
                for error in validator.iter_errors(event):
                    print(f"{name}:{number}: {error.message}", file=sys.stderr)
                    bad += 1
    if lines == 0:
        print("no lines to check", file=sys.stderr)
        return 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
