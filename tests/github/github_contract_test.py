#!/usr/bin/env python3
"""Contract tests against GitHub's published schemas (tests/fixtures/github/schemas.json).

1. Every body the fake GitHub serves (documented examples, built-in answers of every account,
   every page) validates against the schema of its path, and every API answer carries GitHub's
   rate-limit headers and Link pages. So the fake cannot drift from GitHub's published shapes.
2. Answers generated within those schemas (nullable fields null, optional fields absent, unknown
   fields, int64 extremes, Unicode, empty lists, full and short pages), each validated first,
   are fed to github-helper through the fake, and its answers are checked.

    github_contract_test.py --helper PATH [--web-url https://github.com]
                            [--api-url https://api.github.com]

The fake is started once for the whole program.
"""

import argparse
import copy
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from urllib.parse import urlsplit

import jsonschema

HERE = os.path.dirname(os.path.abspath(__file__))
FAKE = os.path.join(HERE, "..", "fake_github")
FIXTURES = os.path.join(HERE, "..", "fixtures", "github")
sys.path.insert(0, FAKE)
import rest_endpoints  # noqa: E402

OPTIONS = None  # set by main()
INT64_MAX, INT64_MIN = 2**63 - 1, -2**63
WAIT = ("GitHub\u2019s request limit was reached. Wait a few minutes and try again. "
        "Your notes are saved locally.")
READ_ONLY = ("This account has read-only access. Choose a writable repository and allow Pellow "
             "Contents read and write access on GitHub.")
ACCESS = ("Pellow cannot access this repository. Allow Pellow Notes Sync to access it on GitHub, "
          "then refresh. Organization repositories may need administrator approval.")
RATE_HEADERS = ("x-ratelimit-limit", "x-ratelimit-remaining", "x-ratelimit-used",
                "x-ratelimit-reset", "x-ratelimit-resource")


def load(name):
    with open(os.path.join(FIXTURES, name)) as f:
        return json.load(f)


SCHEMAS = load("schemas.json")


def problems(schema_name, body):
    validator = jsonschema.Draft202012Validator(SCHEMAS[schema_name])
    return ["%s at %s" % (e.message, list(e.absolute_path)) for e in validator.iter_errors(body)]


def schema_for(path, status):
    bare = path.split("?", 1)[0]
    if status >= 400:
        return "basic_error"
    if bare == "/user":
        return "private_user"
    if bare == "/user/installations":
        return "installations_page"
    if bare.endswith("/repositories"):
        return "repositories_page"
    return "repository"


def request(path, token):
    return {"method": "GET", "path": path, "host": "api.github.com", "body": "",
            "headers": [["Authorization", "Bearer " + token],
                        ["X-GitHub-Api-Version", "2026-03-10"]]}


def header(route, name):
    values = [v for k, v in route["headers"] if k.lower() == name]
    return values[0] if values else None


class FakeServesSchemaValidBodies(unittest.TestCase):
    def test_documented_examples(self):
        for name, schema in [("installations.json", "installations_page"),
                             ("installation-repositories.json", "repositories_page"),
                             ("user.json", "private_user"),
                             ("rate-limit-primary-403.json", "basic_error"),
                             ("rate-limit-secondary-403.json", "basic_error"),
                             ("rest-error-401-bad-credentials.json", "basic_error"),
                             ("rest-error-403-login-attempts.json", "basic_error")]:
            self.assertEqual(problems(schema, load(name)), [], name)

    def walk(self, token):
        """Every answer of one account: the user, each installation's every page, each repo."""
        paths = ["/user", "/repos/nobody/nothing"]
        answers = []
        while paths:
            path = paths.pop(0)
            route = rest_endpoints.answer_for(request(path, token))
            answers.append((path, route))
            body = json.loads(route["body"])
            link = header(route, "link")
            if link and 'rel="next"' in link:
                nxt = [p for p in link.split(", ") if p.endswith('rel="next"')][0]
                paths.append(urlsplit(nxt[1:nxt.index(">")])._replace(
                    scheme="", netloc="").geturl())
            if path == "/user":
                paths.append("/user/installations?per_page=2&page=1")
            for inst in body.get("installations", []) if route["status"] == 200 else []:
                paths.append("/user/installations/%d/repositories?per_page=100&page=1"
                             % inst["id"])
            for repo in body.get("repositories", [])[:3] if route["status"] == 200 else []:
                paths.append("/repos/" + repo["full_name"])
        return answers

    def test_every_built_in_answer(self):
        for token in ["ghu_examples", "ghu_managed", "ghu_busy", "ghu_exhausted"]:
            answers = self.walk(token)
            self.assertGreater(len(answers), 2, token)
            for path, route in answers:
                where = "%s %s" % (token, path)
                body = json.loads(route["body"])
                self.assertEqual(problems(schema_for(path, route["status"]), body), [], where)
                for name in RATE_HEADERS:
                    self.assertIsNotNone(header(route, name), where + " " + name)
                ids = [e["id"] for key in ("installations", "repositories")
                       for e in body.get(key, [])] + [body.get("id", 0)]
                self.assertTrue(all(INT64_MIN <= i <= INT64_MAX for i in ids), where)
        statuses = {token: {r["status"] for _, r in self.walk(token)}
                    for token in ["ghu_busy", "ghu_exhausted"]}
        self.assertEqual(statuses, {"ghu_busy": {403}, "ghu_exhausted": {403}})

    def test_pages_and_links_follow_github(self):
        base = "/user/installations/9000000002/repositories"
        cases = [  # (query, entries shown, rels of the Link header; None: no header)
            ("per_page=100&page=1", 86, ["next", "last"]),
            ("per_page=100&page=2", 30, ["prev", "first"]),
            ("page=2", 26, ["prev", "next", "last", "first"]),  # per_page 30 by default
            ("per_page=500&page=1", 86, ["next", "last"]),      # at most 100
            ("per_page=100&page=9", 0, ["prev", "first"]),
        ]
        for query, shown, rels in cases:
            route = rest_endpoints.answer_for(request(base + "?" + query, "ghu_managed"))
            body = json.loads(route["body"])
            self.assertEqual((len(body["repositories"]), body["total_count"]), (shown, 135), query)
            link = header(route, "link")
            self.assertEqual([part.split('rel="')[1][:-1] for part in link.split(", ")], rels)
        # Everything on one page: GitHub sends no Link header at all.
        route = rest_endpoints.answer_for(request("/user/installations?per_page=100", "ghu_x"))
        self.assertIsNone(header(route, "link"))
        self.assertEqual(len(json.loads(route["body"])["installations"]), 2)

    def test_api_version_is_checked(self):
        for version, refused in [("2026-03-10", False), ("2022-11-28", False),
                                 ("2026-03-11", True), ("", True), ("latest", True)]:
            req = request("/user", "ghu_x")
            req["headers"][1][1] = version
            refusal = rest_endpoints.version_refusal(req)
            self.assertEqual(refusal is not None, refused, version)
            if refusal:
                self.assertEqual(refusal["status"], 400)
                self.assertEqual(problems("basic_error", json.loads(refusal["body"])), [])
        self.assertIsNone(rest_endpoints.version_refusal(
            {"headers": [["Authorization", "Bearer x"]]}))  # no header: GitHub's default


# Answers generated within the schemas.

def nullable(prop):
    types = prop.get("type", [])
    return (isinstance(types, list) and "null" in types) or \
        any(alt.get("type") == "null" for alt in prop.get("anyOf", []))


def properties(schema):
    """The schema's properties and required list, through one level of allOf."""
    props, required = dict(schema.get("properties", {})), list(schema.get("required", []))
    for part in schema.get("allOf", []):
        props.update(part.get("properties", {}))
        required += part.get("required", [])
    return props, required


def nulls(schema, obj):
    props, _ = properties(schema)
    return {k: (None if k in props and nullable(props[k]) else v) for k, v in obj.items()}


def without_optional(schema, obj):
    _, required = properties(schema)
    return {k: v for k, v in obj.items() if k in required}


def with_unknown(obj):
    out = dict(obj)
    out.update({"zz_unknown": {"nested": [1, "two", None, {"deep": True}]},
                "aa_unknown": 1.5e300, "\u00fcnknown_\U0001F600": "\u2028"})
    return out


def item_schema(page):
    return SCHEMAS[page]["properties"][page.split("_")[0]]["items"]


def repository_item(repo):
    return {"defaultBranch": repo["default_branch"], "private": repo["private"],
            "slug": repo["full_name"]}


class Helper:
    """github-helper against one fake GitHub for the whole program."""

    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="pellow-contract-")
        web, api = urlsplit(OPTIONS.web_url).hostname, urlsplit(OPTIONS.api_url).hostname
        self.fake = subprocess.Popen(
            [sys.executable, os.path.join(FAKE, "fake_github.py"), "--hosts", web + "," + api],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        ready = json.loads(self.fake.stdout.readline())
        target = ":443:127.0.0.1:%d" % ready["port"]
        self.env = {k: v for k, v in os.environ.items() if k != "DBUS_SESSION_BUS_ADDRESS"}
        self.env.update({"HOME": self.home, "XDG_DATA_HOME": os.path.join(self.home, "data"),
                         "PELLOW_TEST_CONNECT_TO": web + target + "," + api + target,
                         "PELLOW_TEST_CAINFO": ready["ca"]})

    def command(self, command):
        self.fake.stdin.write(json.dumps(command) + "\n")
        self.fake.stdin.flush()
        return json.loads(self.fake.stdout.readline())

    def route(self, path, body, status=200, headers=()):
        self.command({"op": "reset"})
        self.command({"op": "route", "route": {
            "method": "GET", "path": path, "status": status, "body": json.dumps(body),
            "headers": [["Content-Type", "application/json; charset=utf-8"]] + list(headers)}})

    def run(self, request, arguments=(), stdin=None):
        done = subprocess.run([OPTIONS.helper, *arguments], env=self.env, capture_output=True,
                              input=(stdin if stdin is not None else json.dumps(request)).encode(),
                              timeout=60)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def json(self, request):
        status, out, err = self.run(request)
        if status != 0:
            raise AssertionError("status %d: %s" % (status, err))
        return json.loads(out)

    def save(self, token):
        """Stores the managed user's credential with `token`, which picks the fake's account."""
        saved = self.json({"operation": "save", "credential": {
            "accessToken": token, "accountID": rest_endpoints.ManagedAccount.ID,
            "login": rest_endpoints.ManagedAccount.LOGIN}})
        if "ok" not in saved:
            raise AssertionError("save failed: %s" % saved)

    def close(self):
        self.fake.stdin.close()
        self.fake.wait(timeout=10)
        shutil.rmtree(self.home, ignore_errors=True)


class HelperWithinSchemas(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.helper = Helper()
        cls.helper.save("ghu_managed")

    @classmethod
    def tearDownClass(cls):
        cls.helper.close()

    def listing(self, path, page_schema, body, request, headers=()):
        self.assertEqual(problems(page_schema, body), [], "generated outside the schema")
        self.helper.route(path, body, headers=headers)
        return self.helper.json(request)

    def test_repository_pages(self):
        schema = item_schema("repositories_page")
        path = "/user/installations/5/repositories"
        ask = {"operation": "repositories", "installation": 5}
        base = rest_endpoints.repository_object("mona-cat_octo/notes", 7000000001,
                                                description="Notizen \U0001F4DD \u65e5\u672c")
        read = rest_endpoints.repository_object("Octo-Org/Read-Only", 1, rest_endpoints.READ)
        bare = rest_endpoints.repository_object("o/no-permissions", 2, None)
        expected = [repository_item(base)]
        full = [copy.deepcopy(base) for _ in range(100)]
        next_link = [["Link", '<%s%s?per_page=100&page=2>; rel="next"'
                      % (OPTIONS.api_url, path)]]
        cases = [  # (what, repositories, Link headers, items, hasMore)
            ("as generated", [base], (), expected, False),
            ("nullable fields null", [nulls(schema, base)], (), expected, False),
            ("optional fields absent", [without_optional(schema, base)], (), expected, False),
            ("unknown fields", [with_unknown(base)], (), expected, False),
            ("int64 extremes", [dict(base, id=INT64_MAX), dict(base, id=INT64_MIN)], (),
             expected * 2, False),
            ("push is not looked at", [read, bare], (),
             [repository_item(read), repository_item(bare)], False),
            ("archived or disabled", [dict(base, archived=True), dict(base, disabled=True)], (),
             [], False),
            ("empty list", [], (), [], False),
            ("full page", full, (), expected * 100, True),
            ("short page with a next link", [base] * 30, next_link, expected * 30, True),
            ("empty page with a next link", [], next_link, [], True),
        ]
        for what, repos, headers, items, more in cases:
            with self.subTest(what):
                body = {"total_count": len(repos), "repositories": repos}
                self.assertEqual(self.listing(path, "repositories_page", body, ask, headers),
                                 {"ok": {"hasMore": more, "items": items}})

    def test_installation_pages(self):
        schema = item_schema("installations_page")
        own, org, no_account, enterprise = rest_endpoints.ManagedAccount.installations()
        unicode_account = copy.deepcopy(own)
        unicode_account["account"]["login"] = "Zo\u00eb_\U0001F600/\u2028"
        items = [{"id": own["id"], "login": "mona-cat_octo"},
                 {"id": org["id"], "login": "octo-research_octo"}]
        cases = [
            ("as generated", [own, org, no_account, enterprise], items),
            ("nullable fields null", [nulls(schema, i) for i in (own, org)], []),
            ("optional fields absent", [without_optional(schema, i) for i in (own, org)], items),
            ("unknown fields", [with_unknown(i) for i in (own, org)], items),
            ("int64 extremes", [dict(own, id=INT64_MAX), dict(own, id=INT64_MIN)],
             [{"id": INT64_MAX, "login": "mona-cat_octo"}]),
            ("unicode login", [unicode_account],
             [{"id": own["id"], "login": unicode_account["account"]["login"]}]),
            ("empty list", [], []),
        ]
        for what, installations, expected in cases:
            with self.subTest(what):
                body = {"total_count": len(installations), "installations": installations}
                self.assertEqual(
                    self.listing("/user/installations", "installations_page", body,
                                 {"operation": "installations"}),
                    {"ok": {"hasMore": False, "items": expected}})

    def test_repository_check(self):
        schema = SCHEMAS["repository"]
        base = rest_endpoints.repository_object("mona-cat_octo/notes", 7000000001)
        account = {"id": rest_endpoints.ManagedAccount.ID, "login": "mona-cat_octo",
                   "signedIn": True}

        def ok(repo):
            return {"ok": {"account": account, "defaultBranch": repo["default_branch"],
                           "id": repo["id"], "private": repo["private"],
                           "remote": OPTIONS.web_url + "/mona-cat_octo/notes.git",
                           "slug": "mona-cat_octo/notes"}}
        cases = [
            ("as generated", base, ok(base)),
            ("nullable fields null", nulls(schema, base), ok(base)),
            ("unknown fields", with_unknown(base), ok(base)),
            ("int64 id", dict(base, id=INT64_MAX), ok(dict(base, id=INT64_MAX))),
            ("permissions absent: read-only", without_optional(schema, base),
             {"error": READ_ONLY}),
        ]
        for what, repo, expected in cases:
            with self.subTest(what):
                self.assertEqual(problems("repository", repo), [])
                self.helper.route("/repos/mona-cat_octo/notes", repo)
                self.assertEqual(self.helper.json(
                    {"operation": "repository", "repository": "mona-cat_octo/notes"}), expected)

    def test_limits_and_errors(self):
        secondary = load("rate-limit-secondary-403.json")
        quota_left = [["x-ratelimit-remaining", "4999"], ["x-ratelimit-resource", "core"]]
        cases = [
            ("secondary limit, 403", 403, secondary, quota_left, WAIT),
            ("secondary limit, 429", 429, secondary, quota_left, WAIT),
            ("primary limit", 403, load("rate-limit-primary-403.json"),
             [["x-ratelimit-remaining", "0"]], WAIT),
            ("missing access", 403, {"message": "Resource not accessible by integration"},
             quota_left, ACCESS),
        ]
        for what, status, body, headers, message in cases:
            with self.subTest(what):
                self.assertEqual(problems("basic_error", body), [])
                self.helper.route("/repos/o/n", body, status, headers)
                self.assertEqual(self.helper.json({"operation": "repository",
                                                   "repository": "o/n"}), {"error": message})

    def test_limits_of_the_built_in_github(self):
        """The fake's limited accounts: its reset header names the time in both cases."""
        self.helper.command({"op": "reset"})
        try:
            for token in ["ghu_busy", "ghu_exhausted"]:
                with self.subTest(token):
                    self.helper.save(token)
                    for ask in [{"operation": "repository", "repository": "mona-cat_octo/notes"},
                                {"operation": "installations"}]:
                        message = self.helper.json(ask)["error"]
                        self.assertTrue(message.startswith(
                            "GitHub\u2019s request limit was reached. Try again after "), message)
                        self.assertTrue(message.endswith(". Your notes are saved locally."))
        finally:
            self.helper.save("ghu_managed")

    def test_managed_user_against_the_built_in_github(self):
        """The whole way of an Enterprise Managed User in a busy organisation, unscripted."""
        self.helper.command({"op": "reset"})
        own, org, _, _ = rest_endpoints.ManagedAccount.installations()
        self.assertEqual(self.helper.json({"operation": "installations"})["ok"]["items"],
                         [{"id": own["id"], "login": "mona-cat_octo"},
                          {"id": org["id"], "login": "octo-research_octo"}])
        pages = [self.helper.json({"operation": "repositories", "installation": org["id"],
                                   "page": page})["ok"] for page in (1, 2)]
        self.assertEqual([(len(p["items"]), p["hasMore"]) for p in pages],
                         [(86, True), (30, False)])
        own_repos = self.helper.json({"operation": "repositories", "installation": own["id"]})
        self.assertEqual([i["slug"] for i in own_repos["ok"]["items"]],
                         ["mona-cat_octo/notes", "mona-cat_octo/shared-notes"])
        checks = {slug: self.helper.json({"operation": "repository", "repository": slug})
                  for slug in ["mona-cat_octo/notes", "mona-cat_octo/shared-notes",
                               "octo-research_octo/notes-002"]}
        self.assertEqual(checks["mona-cat_octo/notes"]["ok"]["slug"], "mona-cat_octo/notes")
        self.assertEqual(checks["mona-cat_octo/shared-notes"], {"error": READ_ONLY})
        self.assertEqual(checks["octo-research_octo/notes-002"], {"error": READ_ONLY})
        # git asks for the managed user's repository and gets the token.
        host = urlsplit(OPTIONS.web_url).hostname
        status, out, err = self.helper.run(
            None, ["credential", str(rest_endpoints.ManagedAccount.ID), "get"],
            "protocol=https\nhost=%s\npath=mona-cat_octo/notes.git\n" % host)
        self.assertEqual((status, out, err),
                         (0, "username=x-access-token\npassword=ghu_managed\n\n", ""))


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--helper", required=True)
    parser.add_argument("--web-url", default="https://github.com")
    parser.add_argument("--api-url", default="https://api.github.com")
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
