import re

import pytest

from conftest import REPOSITORY

PAGES = [REPOSITORY / "README.md", *sorted((REPOSITORY / "docs").glob("*.md"))]
LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def anchors(page):
    """The anchors GitHub gives a page's headings."""
    headings = re.findall(r"^#+ (.+)$", page.read_text(), flags=re.M)
    return {re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-") for heading in headings}


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_relative_links_reach_their_files_and_headings(page):
    text = re.sub(r"```.*?```", "", page.read_text(), flags=re.S)
    for target in LINK.findall(text):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        linked = (page.parent / path).resolve() if path else page
        assert linked.exists(), f"{page.name}: {target}"
        if anchor:
            assert anchor in anchors(linked), f"{page.name}: {target}"


def test_the_readme_stays_short():
    assert len((REPOSITORY / "README.md").read_text().splitlines()) <= 250
