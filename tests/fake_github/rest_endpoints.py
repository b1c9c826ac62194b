"""GitHub's REST answers for repositories and installations, for requests no test scripted.

Each answer has the shape of GitHub's documented example (tests/fixtures/github), adapted to the
request:
    GET /repos/{owner}/{repo}
        repo.json for that repository ("name", "full_name", "owner.login" and the URLs that
        carry them follow the path); the signed-in user may push to it.
    GET /user/installations?page=N
        installations.json on page 1, an empty "installations" array on later pages.
    GET /user/installations/{id}/repositories?page=N
        installation-repositories.json for the installations of that page (ids 1 and 3) on
        page 1, an empty "repositories" array on later pages; 404 for any other id.
Every one of them needs "Authorization: Bearer <token>" and answers GitHub's 401 otherwise.
"""

import copy
import json
import os
import re
from urllib.parse import parse_qs, urlsplit

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "github")
JSON = [["Content-Type", "application/json; charset=utf-8"]]
NOT_FOUND = {"message": "Not Found",
             "documentation_url": "https://docs.github.com/rest", "status": "404"}


def fixture(name):
    with open(os.path.join(FIXTURES, name)) as f:
        return json.load(f)


def answer(body, status=200):
    return {"status": status, "headers": JSON, "body": json.dumps(body, indent=2)}


def page_of(request):
    values = parse_qs(urlsplit(request["path"]).query).get("page", ["1"])
    try:
        return int(values[0])
    except ValueError:
        return 1


def authorized(function):
    def guarded(request, match):
        headers = {name.lower(): value for name, value in request["headers"]}
        if not headers.get("authorization", "").startswith("Bearer "):
            return answer(fixture("rest-error-401-bad-credentials.json"), 401)
        return function(request, match)
    return guarded


def rename(value, old, new):
    """`value` with every string's `old` replaced by `new`, recursively."""
    if isinstance(value, dict):
        return {k: rename(v, old, new) for k, v in value.items()}
    if isinstance(value, list):
        return [rename(v, old, new) for v in value]
    if isinstance(value, str):
        return value.replace(old, new)
    return value


@authorized
def repository(request, match):
    owner, name = match.group(1), match.group(2)
    example = fixture("repo.json")
    top = {k: v for k, v in example.items() if k not in ("parent", "source", "organization",
                                                         "template_repository")}
    repo = rename(top, "octocat/Hello-World", owner + "/" + name)
    repo["name"] = name
    repo["owner"] = rename(copy.deepcopy(example["owner"]), "octocat", owner)
    repo["owner"]["login"] = owner
    repo["permissions"] = {"admin": False, "maintain": False, "push": True, "triage": True,
                           "pull": True}
    return answer(repo)


@authorized
def installations(request, match):
    page = fixture("installations.json")
    if page_of(request) > 1:
        page["installations"] = []
    return answer(page)


@authorized
def installation_repositories(request, match):
    installation = int(match.group(1))
    if installation not in [i["id"] for i in fixture("installations.json")["installations"]]:
        return answer(NOT_FOUND, 404)
    page = fixture("installation-repositories.json")
    if page_of(request) > 1:
        page["repositories"] = []
    return answer(page)


# (method, pattern of the path without its query, function(request, match) -> route)
PATTERNS = [
    ("GET", re.compile(r"/repos/([^/]+)/([^/]+)"), repository),
    ("GET", re.compile(r"/user/installations"), installations),
    ("GET", re.compile(r"/user/installations/([0-9]+)/repositories"), installation_repositories),
]


def answer_for(request):
    """The built-in answer for `request`, or None when none of these paths matches."""
    bare = request["path"].split("?", 1)[0]
    for method, pattern, function in PATTERNS:
        match = pattern.fullmatch(bare)
        if match and method == request["method"]:
            return function(request, match)
    return None
