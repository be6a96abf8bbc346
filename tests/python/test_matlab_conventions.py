import inspect
import json
import re

import pytest

import lumasift
from conftest import REPOSITORY
from lumasift import _core

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


# What each kind of the core's arguments is in a signature's "type".
SIGNATURE_TYPES = {"image": [["numeric"], ["logical"]], "edges": [["numeric"], ["logical"]],
                   "widths": ["numeric", "vector"], "thresholds": ["numeric", "vector", "positive"],
                   "flag": ["logical", "scalar"], "thread_count": ["numeric", "scalar", "integer", "nonnegative"]}


@pytest.mark.parametrize("table", _core.operations(), ids=lambda table: table["name"])
def test_signatures_are_the_cores_table(table):
    """functionSignatures.json and the Python functions take each operation's arguments as its table declares them."""
    signatures = json.loads((GATEWAY / "resources" / "functionSignatures.json").read_text())
    inputs = signatures[table["name"]]["inputs"]
    declared = [(a["name"], "required" if a["required"] else "ordered" if a["positional"] else "namevalue",
                 SIGNATURE_TYPES[a["kind"]]) for a in table["arguments"]]
    assert [(i["name"], i["kind"], i["type"]) for i in inputs] == declared
    assert [o["name"] for o in signatures[table["name"]]["outputs"]] == re.findall(r"\w+", table["results"])
    # Python's own: where the channels are, what comes back, and the older
    # names and positions of the widths, deprecated.
    python_only = {"channel_axis", "return_info", "deprecated", "x3", "x4"}
    parameters = inspect.signature(getattr(lumasift, table["name"])).parameters
    keywords = [a["keyword"] for a in table["arguments"]]
    assert [name for name in parameters if name not in python_only] == keywords
    for a in table["arguments"]:
        parameter = parameters[a["keyword"]]
        # Widths go by name in Python, as its other parameters do.
        by_position = a["positional"] and a["kind"] != "widths"
        assert (parameter.kind == parameter.KEYWORD_ONLY) == (not by_position), a["keyword"]
        assert (parameter.default is parameter.empty) == a["required"], a["keyword"]
