#!/usr/bin/env python3
"""Validates winget manifest files against the published JSON schemas.

usage: winget_validate.py SCHEMA_DIR FILE.yaml...
Each file is checked against the schema its ManifestType and ManifestVersion
name; every problem is one line on standard output, and the exit code is 1
when there was any.
"""
import json
import os
import sys

import jsonschema
import yaml


def main():
    schemas, files = sys.argv[1], sys.argv[2:]
    problems = 0
    for path in files:
        with open(path, encoding="utf-8") as f:
            doc = yaml.safe_load(f)
        schema_file = os.path.join(schemas, "manifest.%s.%s.json" % (doc["ManifestType"], doc["ManifestVersion"]))
        with open(schema_file, encoding="utf-8") as f:
            schema = json.load(f)
        for error in jsonschema.Draft7Validator(schema).iter_errors(doc):
            print("%s: %s: %s" % (path, "/".join(str(p) for p in error.absolute_path), error.message))
            problems += 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
