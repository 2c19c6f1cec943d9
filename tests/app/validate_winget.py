#!/usr/bin/env python3
"""Validates the winget manifests in a folder against winget's JSON schemas.

Usage: validate_winget.py <manifest folder> <schema folder>
Exits 0 when the folder holds exactly one version, one installer and one
defaultLocale manifest of one package and version, named as winget names
them, each valid against its schema; otherwise prints why and exits 1.
"""
import json
import os
import sys

import jsonschema
import yaml


def main(folder, schemas):
    problems = []
    found = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), encoding="utf-8") as stream:
            text = stream.read()
        if text.startswith("\ufeff"):
            problems.append(f"{name}: byte-order mark")
        manifest = yaml.safe_load(text)
        kind = manifest.get("ManifestType")
        version = manifest.get("ManifestVersion")
        path = os.path.join(schemas, f"manifest.{kind}.{version}.json")
        if not os.path.exists(path):
            problems.append(f"{name}: no schema for {kind} {version}")
            continue
        with open(path, encoding="utf-8") as stream:
            schema = json.load(stream)
        validator = jsonschema.validators.validator_for(schema)(schema)
        for error in validator.iter_errors(manifest):
            problems.append(f"{name}: {'/'.join(map(str, error.path))}: {error.message}")
        found[kind] = (name, manifest)
    if sorted(found) != ["defaultLocale", "installer", "version"]:
        problems.append(f"manifest types {sorted(found)}")
    else:
        ids = {m["PackageIdentifier"] for _, m in found.values()}
        versions = {m["PackageVersion"] for _, m in found.values()}
        if len(ids) != 1 or len(versions) != 1:
            problems.append(f"identifiers {ids}, versions {versions}")
        package = ids.pop()
        locale = found["defaultLocale"][1]["PackageLocale"]
        if found["version"][1]["DefaultLocale"] != locale:
            problems.append("DefaultLocale differs from the locale manifest's PackageLocale")
        expected = {"version": f"{package}.yaml", "installer": f"{package}.installer.yaml",
                    "defaultLocale": f"{package}.locale.{locale}.yaml"}
        for kind, (name, _) in found.items():
            if name != expected[kind]:
                problems.append(f"{name}: expected the name {expected[kind]}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
