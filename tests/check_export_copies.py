#!/usr/bin/env python3
"""The copies of the export list that are kept on purpose, checked against it.

The Python binding declares every function with its ctypes signature, and
the outside-application test of the DLL lists the functions an application
resolves; both are written as their users meet the library, so they are not
generated. Here each must name exactly the functions of src/exports.def.h,
and the binding's argument lists must be as long as the list's argument
bytes say (every argument takes 4 bytes on the stdcall stack), so that a
function added, renamed or given another argument shows up here first.

    check_export_copies.py EXPORTS_DEF_H LIBRARY_PY OMBRIX_DLL_H
"""
import ast
import re
import sys


def read_list(path):
    entries = {"API": {}, "SIM": {}}
    with open(path) as source:
        for line in source:
            match = re.match(r"^OMBRIX_(API|SIM)_EXPORT\((\w+), (\d+)\)$", line.strip())
            if match:
                entries[match.group(1)][match.group(2)] = int(match.group(3))
    return entries


def argument_count(node):
    """Length of an argument list written as [a, b] or [a] + [b] * 6."""
    if isinstance(node, ast.List):
        return len(node.elts)
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.Add):
        return argument_count(node.left) + argument_count(node.right)
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.Mult):
        return argument_count(node.left) * ast.literal_eval(node.right)
    raise ValueError(f"unreadable argument list at line {node.lineno}")


def read_binding(path):
    tables = {}
    tree = ast.parse(open(path).read(), path)
    for statement in tree.body:
        if isinstance(statement, ast.AnnAssign) and isinstance(statement.value, ast.Dict):
            name = statement.target.id
            tables[name] = {
                key.value: argument_count(value.elts[1])
                for key, value in zip(statement.value.keys, statement.value.values)
            }
    return tables


def compare(what, expected, found, problems):
    for name in sorted(set(expected) - set(found)):
        problems.append(f"{what} lacks {name}")
    for name in sorted(set(found) - set(expected)):
        problems.append(f"{what} has {name}, which the list of exports does not")


def main():
    exports_path, binding_path, dll_header_path = sys.argv[1:4]
    exports = read_list(exports_path)
    problems = []
    if len(exports["API"]) != 24:
        problems.append(f"the list of exports has {len(exports['API'])} API functions, not 24")

    binding = read_binding(binding_path)
    compare("the Python binding's _API", exports["API"], binding.get("_API", {}), problems)
    # The binding declares the simulator functions it uses, a subset.
    for name in sorted(set(binding.get("_SIM_API", {})) - set(exports["SIM"])):
        problems.append(f"the Python binding's _SIM_API has {name}, which the list of exports does not")
    for table, listed in (("_API", exports["API"]), ("_SIM_API", exports["SIM"])):
        for name, count in binding.get(table, {}).items():
            if name in listed and count * 4 != listed[name]:
                problems.append(f"the Python binding passes {name} {count} arguments; "
                                f"the list of exports gives it {listed[name]} bytes")

    header = open(dll_header_path).read()
    block = re.search(r"#define OMBRIX_DLL_EXPORTS\(X\)(.*?)\n\n", header, re.S)
    dll_names = re.findall(r"X\((\w+)\)", block.group(1)) if block else []
    if len(dll_names) != len(set(dll_names)):
        problems.append("the DLL test's OMBRIX_DLL_EXPORTS names a function twice")
    compare("the DLL test's OMBRIX_DLL_EXPORTS", exports["API"], dict.fromkeys(dll_names), problems)

    for problem in problems:
        print(problem)
    if not problems:
        print(f"the binding and the DLL test agree with the {len(exports['API'])} listed exports")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
