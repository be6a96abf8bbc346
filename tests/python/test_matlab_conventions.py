import json
import re

import pytest

from conftest import REPOSITORY

jsonschema = pytest.importorskip("jsonschema")

GATEWAY = REPOSITORY / "gateway"


def test_function_signatures_follow_the_format_and_name_our_functions():
    signatures = json.loads((GATEWAY / "resources" / "functionSignatures.json").read_text())
    schema = json.loads((REPOSITORY / "tests" / "python" / "function_signatures.schema.json").read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    jsonschema.validate(signatures, schema, cls=jsonschema.Draft202012Validator)
    functions = sorted(name for name in signatures if name != "_schemaVersion")
    assert functions == ["imlumasift", "lumasift", "lumasift_edges"]
    for name in functions:
        assert (GATEWAY / f"{name}.m").is_file(), name


def test_contents_names_the_toolbox_its_version_and_every_function():
    lines = (GATEWAY / "Contents.m").read_text().splitlines()
    assert lines[0] == "% lumasift"
    assert re.fullmatch(r"% Version \d+\.\d+\.\d+ \d{2}-[A-Z][a-z]{2}-\d{4}", lines[1])
    listed = [match.group(1) for line in lines if (match := re.match(r"%   (\w+)\s+- \S", line))]
    assert sorted(listed) == sorted(path.stem for path in GATEWAY.glob("*.m") if path.stem != "Contents")
