#!/usr/bin/env python3
"""Reads winget manifests as YAML and checks them against the rules of the Windows Package
Manager's manifest schemas 1.10.0 that orvan-publish relies on; prints the documents as one JSON
object (file name -> document) on standard output, every broken rule on standard error, and exits
with 1 when any rule is broken.

The rules below are an excerpt written from the published schemas (microsoft/winget-cli,
schemas/JSON/manifests/v1.10.0/manifest.version.1.10.0.json, manifest.installer.1.10.0.json and
manifest.defaultLocale.1.10.0.json): the properties these manifests use, with their types,
patterns, lengths and enumerations as the schemas give them. Unlike the schemas, the excerpt
allows no other property, so a misspelt name is caught too.

    check_winget.py FILE.yaml...
"""
import json
import sys

import jsonschema
import yaml

SEGMENT = r'[^\.\s\\/:\*\?"<>\|\x01-\x1f]{1,32}'
IDENTIFIER = {"type": "string", "pattern": "^" + SEGMENT + r"(\." + SEGMENT + "){1,7}$", "maxLength": 128}
VERSION = {"type": "string", "pattern": r'^[^\\/:\*\?"<>\|\x01-\x1f]+$', "maxLength": 128}
LOCALE = {"type": "string", "pattern": r"^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$",
          "maxLength": 20}
NUMBER = r"(0|[1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5])"
MANIFEST_VERSION = {"type": "string", "pattern": "^" + NUMBER + r"(\." + NUMBER + "){2}$"}
URL = {"type": "string", "pattern": "^([Hh][Tt][Tt][Pp][Ss]?)://.+$", "maxLength": 2048}
SWITCH = {"type": "string", "minLength": 1, "maxLength": 512}
RETURN_RESPONSES = [
    "packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse", "missingDependency",
    "diskFull", "insufficientMemory", "invalidParameter", "noNetwork", "contactSupport",
    "rebootRequiredToFinish", "rebootRequiredForInstall", "rebootInitiated", "cancelledByUser",
    "alreadyInstalled", "downgrade", "blockedByPolicy", "systemNotSupported", "custom",
]


def closed(properties, required):
    return {"type": "object", "properties": properties, "required": required, "additionalProperties": False}


def manifest(kind, properties, required):
    """A manifest of ManifestType kind: the members every manifest has, and its own."""
    common = {"PackageIdentifier": IDENTIFIER, "PackageVersion": VERSION,
              "ManifestType": {"type": "string", "const": kind}, "ManifestVersion": MANIFEST_VERSION}
    return closed({**common, **properties}, list(common) + required)


VERSION_MANIFEST = manifest("version", {"DefaultLocale": LOCALE}, ["DefaultLocale"])

INSTALLER_MANIFEST = manifest("installer", {
    "InstallerType": {"type": "string", "enum": ["msix", "msi", "appx", "exe", "zip", "inno", "nullsoft", "wix",
                                                  "burn", "pwa", "portable", "advinstExe", "advinstMsi"]},
    "Scope": {"type": "string", "enum": ["user", "machine"]},
    "InstallModes": {"type": "array", "items": {"type": "string", "enum": ["interactive", "silent", "silentWithProgress"]},
                     "maxItems": 3, "uniqueItems": True},
    "InstallerSwitches": {"type": "object", "additionalProperties": False,
                          "properties": {"Silent": SWITCH, "SilentWithProgress": SWITCH, "Log": SWITCH}},
    "ExpectedReturnCodes": {
        "type": "array", "maxItems": 128,
        "items": closed({
            "InstallerReturnCode": {"type": "integer", "not": {"enum": [0]}, "minimum": -2147483648,
                                    "maximum": 4294967295},
            "ReturnResponse": {"type": "string", "enum": RETURN_RESPONSES},
        }, ["InstallerReturnCode", "ReturnResponse"]),
    },
    "UpgradeBehavior": {"type": "string", "enum": ["install", "uninstallPrevious", "deny"]},
    "Installers": {
        "type": "array", "minItems": 1, "maxItems": 1024,
        "items": closed({
            "Architecture": {"type": "string", "enum": ["x86", "x64", "arm", "arm64", "neutral"]},
            "InstallerUrl": URL,
            "InstallerSha256": {"type": "string", "pattern": "^[A-Fa-f0-9]{64}$"},
            "AppsAndFeaturesEntries": {
                "type": "array", "uniqueItems": True, "maxItems": 128,
                "items": {"type": "object", "additionalProperties": False, "properties": {
                    "DisplayName": {"type": "string", "minLength": 1, "maxLength": 256},
                    "ProductCode": {"type": "string", "minLength": 1, "maxLength": 255},
                }},
            },
        }, ["Architecture", "InstallerUrl", "InstallerSha256"]),
    },
}, ["Installers"])

DEFAULT_LOCALE_MANIFEST = manifest("defaultLocale", {
    "PackageLocale": LOCALE,
    "Publisher": {"type": "string", "minLength": 2, "maxLength": 256},
    "PackageName": {"type": "string", "minLength": 2, "maxLength": 256},
    "License": {"type": "string", "minLength": 3, "maxLength": 512},
    "ShortDescription": {"type": "string", "minLength": 3, "maxLength": 256},
}, ["PackageLocale", "Publisher", "PackageName", "License", "ShortDescription"])

SCHEMAS = {"version": VERSION_MANIFEST, "installer": INSTALLER_MANIFEST, "defaultLocale": DEFAULT_LOCALE_MANIFEST}


def main(paths):
    documents = {}
    broken = 0
    for path in paths:
        with open(path, encoding="utf-8") as file:
            document = yaml.safe_load(file)
        name = path.rsplit("/", 1)[-1]
        documents[name] = document
        schema = SCHEMAS.get(document.get("ManifestType") if isinstance(document, dict) else None)
        if schema is None:
            print(f"{name}: no manifest type this check knows", file=sys.stderr)
            broken += 1
            continue
        for error in jsonschema.Draft7Validator(schema).iter_errors(document):
            print(f"{name}: {'/'.join(str(p) for p in error.absolute_path)}: {error.message}", file=sys.stderr)
            broken += 1
    json.dump(documents, sys.stdout)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
