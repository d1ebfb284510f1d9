#!/usr/bin/python3
"""Keeps the JSON Schema of the policy true: the schema is itself valid, every
example policy validates against it, and typical mistakes do not. The example
policies are the *.json files of EXAMPLES_DIR but their case files,
*.cases.json, which are tables for "corvexin_policy test".

Usage: check_schema.py SCHEMA EXAMPLES_DIR
"""
import glob
import json
import os
import sys

import jsonschema


def strip_comments(text):
    """Removes // and /* */ comments outside strings, as the gate's reader
    accepts them; line breaks are kept so that error places stay true."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if c == '"':
            j = i + 1
            while j < n and text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            out.append(text[i : j + 1])
            i = j + 1
        elif text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            if j < 0:
                raise ValueError("unterminated block comment")
            out.append("\n" * text.count("\n", i, j))
            i = j + 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def main():
    schema_path, examples = sys.argv[1], sys.argv[2]
    with open(schema_path) as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    failures = 0

    def expect(name, policy, valid):
        nonlocal failures
        errors = list(validator.iter_errors(policy))
        if bool(errors) == valid:
            failures += 1
            detail = "; ".join(e.message for e in errors) or "accepted"
            print(f"FAIL {name}: expected {'valid' if valid else 'invalid'}: {detail}")

    paths = sorted(
        p for p in glob.glob(os.path.join(examples, "*.json")) if not p.endswith(".cases.json")
    )
    if not paths:
        print("FAIL no example policies in " + examples)
        return 1
    for path in paths:
        with open(path) as f:
            expect(os.path.basename(path), json.loads(strip_comments(f.read())), True)

    entry = {"pattern": "^uptime$", "is_cookie_check": 0}
    good = {"scripts_section": {"check_method": 1, "white_cmd_list": [entry]}}
    stripped = json.loads(strip_comments('{"a": "x\\"//y/*z*/", // c\n /* d */ "b": 1}'))
    if stripped != {"a": 'x"//y/*z*/', "b": 1}:
        failures += 1
        print(f"FAIL comment stripping: {stripped}")
    expect("a white list", good, True)
    expect("null sections", {"scripts_section": None, "ui_section": None}, True)
    expect("enable_log true", {"enable_log": True}, True)
    expect("syslog off", {"syslog": 0}, True)
    bad = {
        "misspelt method": {"scripts_section": {"check_methd": 1}},
        "misspelt list": {"scripts_section": {"check_method": 1, "white_cmd_lst": []}},
        "method as text": {"scripts_section": {"check_method": "1"}},
        "unknown method": {"scripts_section": {"check_method": 7}},
        "negative type check": {"ui_section": {"is_type_check": -1}},
        "list as object": {"scripts_section": {"check_method": 1, "white_cmd_list": {"pattern": "x"}}},
        "entry as text": {"scripts_section": {"white_cmd_list": ["^ls$"]}},
        "entry without pattern": {"scripts_section": {"white_cmd_list": [{"is_cookie_check": 0}]}},
        "pattern as array": {"scripts_section": {"white_cmd_list": [{"pattern": ["x"]}]}},
        "level as text": {"scripts_section": {"white_cmd_list": [{"pattern": "^x$", "role_right": {"1": "2"}}]}},
        "category six": {"scripts_section": {"white_cmd_list": [{"pattern": "^x$", "role_right": {"6": 1}}]}},
        "root as array": [],
        "unknown top-level member": {"enable_logs": 1},
        "syslog as text": {"syslog": "off"},
    }
    for name, policy in bad.items():
        expect(name, policy, False)
    print(f"schema: {len(paths)} examples checked, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
