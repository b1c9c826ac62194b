"""GitHub's REST answers for the user, repositories and installations, for requests no test
scripted.

Every answer has the shape of GitHub's documented examples (tests/fixtures/github) adapted to
the request, and behaves the way GitHub documents beyond its examples:
  * x-ratelimit-limit/-remaining/-used/-reset/-resource on every API answer, errors included;
  * listings cut into pages of per_page (default 30, at most 100), with a Link header naming
    first/prev/next/last as GitHub does, and none when everything fits on one page;
  * an X-GitHub-Api-Version that GitHub does not support answers 400 (no header: the default).

Which GitHub the request meets depends on its bearer token (see ACCOUNTS):
    any token      the documented examples: the user octocat, installations 1 and 3 on page 1,
                   installation-repositories.json for each, every repository writable;
    ghu_managed    an Enterprise Managed User, mona-cat_octo, with four installations: their own
                   (three repositories: writable, archived, read-only), an organisation whose
                   135 repositories GitHub filters after paging (short pages that still link a
                   next one; some without push, some without "permissions"), one whose account
                   is null and one on an enterprise account;
    ghu_busy       every API request hits the secondary limit (rate-limit-secondary-403.json,
                   403, quota left, no retry-after);
    ghu_exhausted  every API request hits the primary limit (rate-limit-primary-403.json, 403,
                   x-ratelimit-remaining 0).
Paths:
    GET /user
    GET /repos/{owner}/{repo}      the account's repository, or any for the examples' account
    GET /user/installations?per_page=&page=
    GET /user/installations/{id}/repositories?per_page=&page=    404 for an unknown id
Without "Authorization: Bearer <token>" every one answers GitHub's 401.
"""

import copy
import json
import os
import re
import threading
import time
from urllib.parse import parse_qs, urlsplit

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "github")
JSON = [["Content-Type", "application/json; charset=utf-8"]]
NOT_FOUND = {"message": "Not Found",
             "documentation_url": "https://docs.github.com/rest", "status": "404"}
# The versions this GitHub answers to; the helper sends the newest.
SUPPORTED_VERSIONS = ("2022-11-28", "2026-03-10")
DEFAULT_PER_PAGE, MAX_PER_PAGE = 30, 100
HOURLY_LIMIT = 5000


def fixture(name):
    with open(os.path.join(FIXTURES, name)) as f:
        return json.load(f)


def answer(body, status=200, headers=()):
    return {"status": status, "headers": JSON + [list(h) for h in headers],
            "body": json.dumps(body, indent=2)}


class Quota:
    """The primary quota of one hour, as GitHub counts it for the rate-limit headers."""

    def __init__(self):
        self.lock = threading.Lock()
        self.used = 0
        self.reset = int(time.time()) + 3600

    def headers(self, remaining=None):
        with self.lock:
            if remaining is None:
                self.used = min(self.used + 1, HOURLY_LIMIT)
                remaining = HOURLY_LIMIT - self.used
            used = HOURLY_LIMIT - remaining
            return [["x-ratelimit-limit", str(HOURLY_LIMIT)],
                    ["x-ratelimit-remaining", str(remaining)],
                    ["x-ratelimit-used", str(used)],
                    ["x-ratelimit-reset", str(self.reset)],
                    ["x-ratelimit-resource", "core"]]


QUOTA = Quota()


def with_rate_headers(route, remaining=None):
    """`route` with GitHub's rate-limit headers added, unless it names them itself."""
    route = dict(route)
    headers = [list(h) for h in route.get("headers", [])]
    if not any(name.lower().startswith("x-ratelimit-") for name, _ in headers):
        headers += QUOTA.headers(remaining)
    route["headers"] = headers
    return route


def version_refusal(request):
    """GitHub's 400 for an X-GitHub-Api-Version it does not support, else None."""
    headers = {name.lower(): value for name, value in request["headers"]}
    version = headers.get("x-github-api-version")
    if version is None or version in SUPPORTED_VERSIONS:
        return None
    return with_rate_headers(answer({
        "message": "API version %s is not supported." % version,
        "documentation_url": "https://docs.github.com/rest/about-the-rest-api/api-versions",
        "status": "400"}, 400))


def query_number(request, name, default):
    values = parse_qs(urlsplit(request["path"]).query).get(name, [str(default)])
    try:
        return int(values[0])
    except ValueError:
        return default


def paginate(request, entries, key, visible=lambda entry: True):
    """One page of `entries` under `key`, with GitHub's Link header and total_count.

    GitHub cuts the page first and then leaves out what the user may not see, so a page can be
    shorter than per_page and still have a successor: `visible` plays that filter.
    """
    per_page = max(1, min(query_number(request, "per_page", DEFAULT_PER_PAGE), MAX_PER_PAGE))
    page = max(1, query_number(request, "page", 1))
    last = max(1, -(-len(entries) // per_page))
    shown = [e for e in entries[(page - 1) * per_page:page * per_page] if visible(e)]
    body = {"total_count": len(entries), key: shown}
    if last == 1 and page == 1:
        return answer(body)  # everything fit on one page: no Link header
    split = urlsplit(request["path"])
    base = "https://%s%s" % (request["host"], split.path)

    def link(number, rel):
        query = "per_page=%d&page=%d" % (per_page, number)
        return '<%s?%s>; rel="%s"' % (base, query, rel)
    links = []
    if page > 1:
        links.append(link(min(page - 1, last), "prev"))
    if page < last:
        links += [link(page + 1, "next"), link(last, "last")]
    if page > 1:
        links.append(link(1, "first"))
    return answer(body, headers=[["Link", ", ".join(links)]])


def renamed(value, old, new):
    """`value` with every string's `old` replaced by `new`, recursively."""
    if isinstance(value, dict):
        return {k: renamed(v, old, new) for k, v in value.items()}
    if isinstance(value, list):
        return [renamed(v, old, new) for v in value]
    if isinstance(value, str):
        return value.replace(old, new)
    return value


def account_object(login, account_id, kind="User"):
    owner = renamed(fixture("repo.json")["owner"], "octocat", login)
    owner.update({"login": login, "id": account_id, "type": kind})
    return owner


PUSH = {"admin": False, "maintain": False, "push": True, "triage": True, "pull": True}
READ = {"admin": False, "maintain": False, "push": False, "triage": False, "pull": True}


def repository_object(full_name, repo_id, permissions=PUSH, **fields):
    """GitHub's repository example renamed to `full_name`; permissions None leaves them out."""
    example = fixture("repo.json")
    top = {k: v for k, v in example.items()
           if k not in ("parent", "source", "organization", "template_repository")}
    repo = renamed(top, "octocat/Hello-World", full_name)
    owner, name = full_name.split("/", 1)
    repo.update({"id": repo_id, "name": name, "owner": account_object(owner, repo_id + 1),
                 # The example leaves out "language", which the schema requires (nullable).
                 "language": None})
    repo.pop("permissions", None)
    if permissions is not None:
        repo["permissions"] = dict(permissions)
    repo.update(fields)
    return repo


def installation_object(installation_id, account, target_type):
    inst = copy.deepcopy(fixture("installations.json")["installations"][0])
    inst.update({"id": installation_id, "account": account, "target_type": target_type,
                 "target_id": installation_id,
                 "access_tokens_url":
                     "https://api.github.com/app/installations/%d/access_tokens" % installation_id,
                 "html_url": "https://github.com/settings/installations/%d" % installation_id})
    return inst


class ExampleAccount:
    """The documented examples, for any token."""
    user = staticmethod(lambda: fixture("user.json"))

    @staticmethod
    def installations():
        return fixture("installations.json")["installations"]

    @staticmethod
    def repositories(installation_id):
        if installation_id not in [i["id"] for i in ExampleAccount.installations()]:
            return None
        return fixture("installation-repositories.json")["repositories"]

    @staticmethod
    def repository(owner, name):
        repo = repository_object(owner + "/" + name, fixture("repo.json")["id"])
        repo["owner"]["login"] = owner
        return repo

    visible = staticmethod(lambda repo: True)


class ManagedAccount:
    """An Enterprise Managed User of a busy organisation (ids beyond 32 bits, as GitHub's are)."""
    LOGIN = "mona-cat_octo"
    ID = 5000000001
    ORG = "octo-research_octo"

    @staticmethod
    def user():
        user = renamed(fixture("user.json"), "octocat", ManagedAccount.LOGIN)
        user.update({"login": ManagedAccount.LOGIN, "id": ManagedAccount.ID, "name": None,
                     "company": None, "blog": None, "location": None, "email": None,
                     "hireable": None, "bio": None, "twitter_username": None})
        return user

    @staticmethod
    def installations():
        enterprise = {"id": 77, "slug": "octo", "name": "Octo Enterprise", "node_id": "E_77",
                      "html_url": "https://github.com/enterprises/octo", "website_url": None,
                      "description": None, "created_at": None, "updated_at": None,
                      "avatar_url": "https://avatars.githubusercontent.com/b/77"}
        return [
            installation_object(9000000001, account_object(ManagedAccount.LOGIN,
                                                           ManagedAccount.ID), "User"),
            installation_object(9000000002, account_object(ManagedAccount.ORG, 9000000020,
                                                           "Organization"), "Organization"),
            installation_object(9000000003, None, "Organization"),
            installation_object(9000000004, enterprise, "Enterprise"),
        ]

    @staticmethod
    def own_repositories():
        login = ManagedAccount.LOGIN
        return [repository_object(login + "/notes", 7000000001),
                repository_object(login + "/old-notes", 7000000002, archived=True),
                repository_object(login + "/shared-notes", 7000000003, READ)]

    @staticmethod
    def organisation_repositories():
        repos = []
        for n in range(135):
            permissions = (PUSH, READ, None)[n % 3]
            repos.append(repository_object("%s/notes-%03d" % (ManagedAccount.ORG, n),
                                           7100000000 + n, permissions, private=True))
        return repos

    @staticmethod
    def repositories(installation_id):
        return {9000000001: ManagedAccount.own_repositories(),
                9000000002: ManagedAccount.organisation_repositories(),
                9000000003: [], 9000000004: []}.get(installation_id)

    @staticmethod
    def repository(owner, name):
        wanted = (owner + "/" + name).lower()
        for repo in ManagedAccount.own_repositories() + ManagedAccount.organisation_repositories():
            if repo["full_name"].lower() == wanted:
                return repo
        return None

    # GitHub drops repositories the user may not see after cutting the page: every seventh.
    visible = staticmethod(lambda repo: repo["id"] % 7 != 0)


def limited(body_file, status, remaining):
    def answer_limited(request, match):
        return with_rate_headers(answer(fixture(body_file), status), remaining)
    return answer_limited


ACCOUNTS = {"ghu_managed": ManagedAccount}
# Tokens whose every API request is refused by a rate limit, and how.
LIMITED = {"ghu_busy": limited("rate-limit-secondary-403.json", 403, 4321),
           "ghu_exhausted": limited("rate-limit-primary-403.json", 403, 0)}


def token_of(request):
    headers = {name.lower(): value for name, value in request["headers"]}
    authorization = headers.get("authorization", "")
    return authorization[len("Bearer "):] if authorization.startswith("Bearer ") else None


def authorized(function):
    def guarded(request, match):
        token = token_of(request)
        if token is None:
            return answer(fixture("rest-error-401-bad-credentials.json"), 401)
        if token in LIMITED:
            return LIMITED[token](request, match)
        return function(request, match, ACCOUNTS.get(token, ExampleAccount))
    return guarded


@authorized
def user(request, match, account):
    return answer(account.user())


@authorized
def repository(request, match, account):
    repo = account.repository(match.group(1), match.group(2))
    return answer(repo) if repo is not None else answer(NOT_FOUND, 404)


@authorized
def installations(request, match, account):
    return paginate(request, account.installations(), "installations")


@authorized
def installation_repositories(request, match, account):
    repos = account.repositories(int(match.group(1)))
    if repos is None:
        return answer(NOT_FOUND, 404)
    return paginate(request, repos, "repositories", account.visible)


# (method, pattern of the path without its query, function(request, match) -> route)
PATTERNS = [
    ("GET", re.compile(r"/user"), user),
    ("GET", re.compile(r"/repos/([^/]+)/([^/]+)"), repository),
    ("GET", re.compile(r"/user/installations"), installations),
    ("GET", re.compile(r"/user/installations/([0-9]+)/repositories"), installation_repositories),
]


def answer_for(request):
    """The built-in answer for `request` with its rate-limit headers, or None when none of
    these paths matches."""
    bare = request["path"].split("?", 1)[0]
    for method, pattern, function in PATTERNS:
        match = pattern.fullmatch(bare)
        if match and method == request["method"]:
            return with_rate_headers(function(request, match))
    return None
