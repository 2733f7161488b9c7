#!/usr/bin/env python3
"""Local HTTPS server for the Velto demo and tests.

Serves the chat page, the update files and a set of test routes on
127.0.0.1 only, with a certificate signed by a locally generated test CA.
Standard library only; certificates are made with the `openssl` command.
Run with --help for the options; Server/README.md lists the routes.
"""

import argparse
import collections
import contextlib
import fcntl
import html
import http
import http.server
import io
import json
import logging
import mimetypes
import os
import re
import select
import signal
import ssl
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import urllib.parse
import zipfile

DEFAULT_PORT = 8443
DEFAULT_VERSION = "0.2.16.38"
LISTEN_ADDRESS = "127.0.0.1"

UPLOADS = "/uploads/chat_files/"
DESCRIPTOR_PATH = UPLOADS + "velto_web-chat_client.ini"
UPDATER_PATHS = (UPLOADS + "updater.exe", UPLOADS + "updater")
# The updater's detached signature is served beside it under this suffix.
SIGNATURE_SUFFIX = ".sig"
SIGNATURE_SIZE = 64
SIGNATURE_MODES = ("right", "wrong", "absent")
PACKAGE_ZIP_PATH = UPLOADS + "velto_web-chat_client.zip"
PACKAGE_TAR_PATH = UPLOADS + "velto_web-chat_client-linux.tar.gz"

REQUEST_LOG_SIZE = 500
MESSAGE_STORE_SIZE = 500
MAX_TEST_BYTES = 1 << 30
MAX_SLOW_DELAY_MS = 60_000
IDLE_CONNECTION_S = 30
HANDSHAKE_TIMEOUT_S = 10

CA_NAME = "ca.pem"
CA_KEY_NAME = "ca.key"
SERVER_CERT_NAME = "server.pem"
SERVER_KEY_NAME = "server.key"
UNTRUSTED_CERT_NAME = "untrusted.pem"
UNTRUSTED_KEY_NAME = "untrusted.key"

log = logging.getLogger("velto-server")


# --- certificates --------------------------------------------------------

OPENSSL_CONFIG = """\
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[selfsigned]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
"""


def run_openssl(args, cwd):
    result = subprocess.run(["openssl", *args], cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if result.returncode != 0:
        raise RuntimeError("openssl %s failed: %s" % (args[0], result.stderr.decode(errors="replace").strip()))


CA_DAYS = 3650
CERT_DAYS = 825
RENEW_AFTER_S = (CERT_DAYS - 30) * 86400


def certificates_fresh(state_dir, names):
    # Every file is written by one generation, so the oldest decides; renewing
    # a month ahead keeps a long demo session clear of an expired certificate.
    try:
        oldest = min(os.stat(os.path.join(state_dir, n)).st_mtime for n in names)
    except OSError:
        return False
    return 0 <= time.time() - oldest < RENEW_AFTER_S


def ensure_certificates(state_dir):
    """Creates the test CA, the server certificate it signs and the untrusted
    self-signed certificate in state_dir, reusing what is there and valid."""
    os.makedirs(state_dir, mode=0o700, exist_ok=True)
    names = [CA_NAME, CA_KEY_NAME, SERVER_CERT_NAME, SERVER_KEY_NAME,
             UNTRUSTED_CERT_NAME, UNTRUSTED_KEY_NAME]
    # Several servers may share one state directory (parallel tests).
    try:
        lock = open(os.path.join(state_dir, ".lock"), "a")
    except OSError:
        # A read-only state directory is fine while its certificates are.
        if certificates_fresh(state_dir, names):
            return
        raise
    with lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if certificates_fresh(state_dir, names):
            return
        with tempfile.TemporaryDirectory(dir=state_dir, prefix=".new-") as work:
            with open(os.path.join(work, "openssl.cnf"), "w") as cnf:
                cnf.write(OPENSSL_CONFIG)
            common = ["-config", "openssl.cnf"]
            new_key = ["-newkey", "rsa:2048", "-nodes"]
            stamp = time.strftime("%Y-%m-%d %H:%M:%S")
            run_openssl(["req", "-x509", *common, *new_key, "-keyout", CA_KEY_NAME, "-out", CA_NAME,
                         "-days", str(CA_DAYS), "-sha256", "-subj", "/O=Velto/CN=Velto Test CA " + stamp,
                         "-extensions", "ca"], work)
            run_openssl(["req", "-new", *common, *new_key, "-keyout", SERVER_KEY_NAME,
                         "-out", "server.csr", "-subj", "/O=Velto/CN=localhost"], work)
            run_openssl(["x509", "-req", "-in", "server.csr", "-CA", CA_NAME, "-CAkey", CA_KEY_NAME,
                         "-CAcreateserial", "-out", SERVER_CERT_NAME, "-days", str(CERT_DAYS), "-sha256",
                         "-extfile", "openssl.cnf", "-extensions", "server"], work)
            run_openssl(["req", "-x509", *common, *new_key, "-keyout", UNTRUSTED_KEY_NAME,
                         "-out", UNTRUSTED_CERT_NAME, "-days", str(CERT_DAYS), "-sha256",
                         "-subj", "/O=Velto Untrusted/CN=localhost", "-extensions", "selfsigned"], work)
            for name in names:
                os.chmod(os.path.join(work, name), 0o600 if name.endswith(".key") else 0o644)
                os.replace(os.path.join(work, name), os.path.join(state_dir, name))


def sign_ed25519(key_file, data):
    """The detached Ed25519 signature (64 raw bytes) of data by the private
    key in key_file (PEM, as `openssl genpkey -algorithm ed25519` writes it)."""
    # openssl signs Ed25519 in one go and needs the message as a file.
    with tempfile.TemporaryDirectory(prefix="velto-sign-") as work:
        message = os.path.join(work, "message")
        with open(message, "wb") as f:
            f.write(data)
        result = subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key_file, "-in", message],
                                stdin=subprocess.DEVNULL, capture_output=True, check=False)
    if result.returncode != 0 or len(result.stdout) != SIGNATURE_SIZE:
        raise RuntimeError("openssl pkeyutl -sign failed: %s" % result.stderr.decode(errors="replace").strip())
    return result.stdout


def default_state_dir():
    base = os.environ.get("XDG_STATE_HOME") or os.path.join(os.path.expanduser("~"), ".local", "state")
    return os.path.join(base, "velto-server")


# --- shared state ----------------------------------------------------------

SIMULATED_AUTHOR = "Анна"
SIMULATED_LINES = (
    "Привет! Как дела?",
    "Я отправила отчёт, посмотри, когда будет минутка.",
    "Созвон переносится на 15:00.",
    "Кто-нибудь видел последнюю сборку?",
    "Отлично, спасибо!",
    "Обед через полчаса, идёшь?",
    "Новая версия уже на тестовом сервере.",
    "Не забудь обновить документацию 🙂",
    "Инструкция здесь: https://example.org/velto/guide — вопросы на support@example.org",
    ("Вот отчёт за март", "Отчёт за март.pdf"),
)

# How the page shows a test message's link=<label>|<kind>|<href>: a link in
# the same tab, a link to a new tab, a button that calls window.open, a
# link with the download attribute.
LINK_KINDS = ("same-tab", "new-tab", "open", "download")

# Attachments: /chat/files/<name> serves a small file of this size.
FILE_BODY_BYTES = 64 * 1024


class ChatState:
    """Messages, the request log and the beacons, shared by all connections."""

    def __init__(self):
        self.lock = threading.Lock()
        self.messages = collections.deque(maxlen=MESSAGE_STORE_SIZE)
        self.next_message_id = 1
        self.simulated_count = 0
        self.requests = collections.deque(maxlen=REQUEST_LOG_SIZE)
        self.beacons = collections.deque(maxlen=REQUEST_LOG_SIZE)
        # What /test/chat-setup asked the chat page to do besides chatting.
        self.chat_setup = {}

    def add_message(self, author, text, client="", nonce="", extra=None):
        with self.lock:
            message = {"id": self.next_message_id, "author": author[:64], "text": text[:2000],
                       "client": client[:64], "nonce": nonce[:64], "time": time.time()}
            message.update(extra or {})
            self.next_message_id += 1
            self.messages.append(message)
            return message

    def add_simulated_message(self):
        with self.lock:
            line = SIMULATED_LINES[self.simulated_count % len(SIMULATED_LINES)]
            self.simulated_count += 1
        if isinstance(line, tuple):
            text, name = line
            return self.add_message(SIMULATED_AUTHOR, text, "server", extra={"attachment": attachment(name)})
        return self.add_message(SIMULATED_AUTHOR, line, "server")

    def messages_since(self, since):
        with self.lock:
            return [m for m in self.messages if m["id"] > since], self.next_message_id - 1

    def record_request(self, entry):
        with self.lock:
            self.requests.append(entry)

    def record_beacon(self, entry):
        with self.lock:
            self.beacons.append(entry)

    def set_chat_setup(self, setup):
        with self.lock:
            self.chat_setup = dict(setup)

    def get_chat_setup(self):
        with self.lock:
            return dict(self.chat_setup)

    def snapshot(self):
        with self.lock:
            return list(self.requests), list(self.beacons)

    def reset(self):
        with self.lock:
            self.requests.clear()
            self.beacons.clear()
            self.chat_setup = {}


def message_generator(state, interval, stop):
    # Event.wait bounds every round by the interval and ends at once on stop.
    while not stop.wait(interval):
        state.add_simulated_message()


# --- dummy packages ----------------------------------------------------------

PACKAGE_README = "Velto test package. It holds nothing but this file.\n"


def make_zip():
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        info = zipfile.ZipInfo("velto/README.txt", date_time=(2020, 1, 1, 0, 0, 0))
        archive.writestr(info, PACKAGE_README)
    return buffer.getvalue()


def make_tar_gz():
    buffer = io.BytesIO()
    data = PACKAGE_README.encode()
    # mtime 0 in the gzip header keeps the bytes the same from run to run.
    with tarfile.open(fileobj=buffer, mode="w:gz", compresslevel=9) as archive:
        info = tarfile.TarInfo("velto/README.txt")
        info.size = len(data)
        info.mtime = 1577836800
        info.mode = 0o644
        archive.addfile(info, io.BytesIO(data))
    raw = bytearray(buffer.getvalue())
    raw[4:8] = b"\0\0\0\0"
    return bytes(raw)


# --- real packages -----------------------------------------------------------
# The updater takes the installer out of the package: a zip whose one ".exe"
# entry is stored (Windows), a tar.gz whose one ".deb" entry is the package
# (Linux). Fixed dates keep the bytes, and so the signature, the same at
# every request.

PACKAGE_DATE = (2020, 1, 1, 0, 0, 0)
PACKAGE_MTIME = 1577836800


def wrap_zip(name, data):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as archive:
        info = zipfile.ZipInfo(name, date_time=PACKAGE_DATE)
        info.external_attr = 0o644 << 16
        archive.writestr(info, data)
    return buffer.getvalue()


def wrap_tar_gz(name, data):
    buffer = io.BytesIO()
    # USTAR: no extended headers, which the updater does not take.
    with tarfile.open(fileobj=buffer, mode="w:gz", compresslevel=6, format=tarfile.USTAR_FORMAT) as archive:
        info = tarfile.TarInfo(name)
        info.size = len(data)
        info.mtime = PACKAGE_MTIME
        info.mode = 0o644
        archive.addfile(info, io.BytesIO(data))
    raw = bytearray(buffer.getvalue())
    raw[4:8] = b"\0\0\0\0"  # the gzip header's time
    return bytes(raw)


def read_file_or_none(path):
    if not path:
        return None
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def pattern_bytes(offset, count):
    """Deterministic content of /test/bytes: byte i is i mod 251."""
    return bytes((i % 251) for i in range(offset, offset + count))


def file_bytes(name):
    """Deterministic content of the attachment /chat/files/<name>."""
    head = ("Velto test file %s\n" % name).encode()
    return head + pattern_bytes(0, FILE_BODY_BYTES - len(head))


def attachment(name, broken=False):
    """A message's attachment: what the page shows and where it comes from."""
    quoted = urllib.parse.quote(name, safe="")
    url = ("/test/broken-file/" if broken else "/chat/files/") + quoted
    return {"name": name, "url": url, "size": len(file_bytes(name))}


def content_disposition(name):
    # An ASCII fallback for old clients, the real name in RFC 5987 form.
    fallback = "".join(c if 32 <= ord(c) < 127 and c not in '"\\' else "_" for c in name)
    return "attachment; filename=\"%s\"; filename*=UTF-8''%s" % (fallback, urllib.parse.quote(name, safe=""))


# --- the chat page -----------------------------------------------------------

CHAT_PAGE = """<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Velto Чат</title>
<style>
  :root { --accent: #2f6fde; --bg: #eef1f6; --panel: #ffffff; --text: #1d2330; --muted: #7b8494; }
  * { box-sizing: border-box; }
  html, body { height: 100%; margin: 0; }
  body { display: flex; flex-direction: column; background: var(--bg); color: var(--text);
         font: 15px/1.4 "Segoe UI", "Noto Sans", "DejaVu Sans", sans-serif; }
  header { display: flex; align-items: center; gap: 10px; padding: 10px 14px;
           background: var(--accent); color: #fff; box-shadow: 0 1px 4px rgba(0,0,0,.2); }
  header .avatar { width: 34px; height: 34px; border-radius: 50%; background: #fff; color: var(--accent);
                   display: flex; align-items: center; justify-content: center; font-weight: 700; }
  header h1 { font-size: 16px; margin: 0; font-weight: 600; }
  header .status { font-size: 12px; opacity: .85; }
  #messages { flex: 1; overflow-y: auto; padding: 12px; display: flex; flex-direction: column; gap: 6px; }
  .msg { max-width: 80%; padding: 7px 11px 5px; border-radius: 14px; background: var(--panel);
         box-shadow: 0 1px 1px rgba(0,0,0,.08); align-self: flex-start; word-wrap: break-word;
         white-space: pre-wrap; animation: pop .18s ease-out; }
  .msg.own { align-self: flex-end; background: var(--accent); color: #fff; }
  .msg .author { font-size: 12px; font-weight: 600; color: var(--accent); }
  .msg.own .author { display: none; }
  .msg .time { font-size: 11px; color: var(--muted); text-align: right; margin-top: 2px; }
  .msg a { color: var(--accent); }
  .msg.own a { color: #fff; }
  .msg .file { display: inline-flex; gap: 6px; align-items: center; margin-top: 4px; padding: 5px 10px;
               border-radius: 10px; background: var(--bg); color: var(--text); text-decoration: none; }
  .msg .file .size { color: var(--muted); font-size: 12px; }
  .msg .links { display: flex; flex-wrap: wrap; gap: 6px 12px; margin-top: 4px; white-space: normal; }
  .msg .links button { padding: 2px 10px; font-weight: 400; }
  .msg.own .time { color: rgba(255,255,255,.75); }
  .empty { margin: auto; color: var(--muted); }
  form { display: flex; gap: 8px; padding: 10px; background: var(--panel); border-top: 1px solid #dde2ea; }
  #text { flex: 1; min-width: 0; padding: 9px 12px; border: 1px solid #cfd6e2; border-radius: 18px;
          font: inherit; outline: none; }
  #text:focus { border-color: var(--accent); }
  button { padding: 0 16px; border: 0; border-radius: 18px; background: var(--accent); color: #fff;
           font: inherit; font-weight: 600; cursor: pointer; }
  button:disabled { opacity: .5; cursor: default; }
  @keyframes pop { from { transform: translateY(4px); opacity: 0; } to { transform: none; opacity: 1; } }
</style>
</head>
<body>
<header>
  <div class="avatar">V</div>
  <div>
    <h1>Velto Чат</h1>
    <div class="status" id="status">подключение…</div>
  </div>
</header>
<main id="messages"><div class="empty" id="empty">Сообщений пока нет</div></main>
<form id="form" autocomplete="off">
  <input id="text" type="text" placeholder="Сообщение…" maxlength="2000" autofocus>
  <button id="send" type="submit">Отправить</button>
</form>
<script>
"use strict";
(function () {
  var POLL_MS = 1000;
  var client = Math.random().toString(36).slice(2) + Date.now().toString(36);
  var lastId = 0;
  var loaded = false;
  var shown = {};
  var pending = {};
  var sent = 0;
  var list = document.getElementById("messages");
  var status = document.getElementById("status");
  var input = document.getElementById("text");
  // Only what /test/chat-setup turned on; {} for the demo.
  var setup = /*SETUP*/{};

  function beacon(params) {
    var query = Object.keys(params).map(function (k) {
      return encodeURIComponent(k) + "=" + encodeURIComponent(params[k]);
    }).join("&");
    return fetch("/chat/beacon?" + query, { method: "POST", cache: "no-store", keepalive: true })
      .catch(function () {});
  }

  // Addresses in a message become links that open a new tab, as in any
  // chat; an e-mail address becomes a mailto: link.
  var ADDRESS = new RegExp("(?:https?://|mailto:)[^\\\\s<>\\"]+" +
                           "|[A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(?:\\\\.[A-Za-z0-9-]+)*\\\\.[A-Za-z]{2,}", "gi");
  function linkify(container, text) {
    var last = 0;
    var match;
    ADDRESS.lastIndex = 0;
    while ((match = ADDRESS.exec(text)) !== null) {
      // Punctuation that ends the sentence is no part of the address.
      var address = match[0].replace(/[.,;:!?)\\]]+$/, "");
      if (match.index > last) container.appendChild(document.createTextNode(text.slice(last, match.index)));
      var href = /^(https?:|mailto:)/i.test(address) ? address : "mailto:" + address;
      var a = document.createElement("a");
      a.href = href;
      a.target = "_blank";
      a.rel = "noopener noreferrer";
      a.textContent = address;
      a.setAttribute("data-beacon", "text-link:" + href);
      container.appendChild(a);
      last = match.index + address.length;
      ADDRESS.lastIndex = last;
    }
    if (last < text.length) container.appendChild(document.createTextNode(text.slice(last)));
  }

  function size(bytes) {
    return bytes < 1024 ? bytes + " Б" : Math.round(bytes / 1024) + " КБ";
  }

  // A file sent with the message: the server answers it as an attachment.
  function fileLink(file) {
    var a = document.createElement("a");
    a.className = "file";
    a.href = file.url;
    a.setAttribute("data-beacon", "file:" + file.name);
    var name = document.createElement("span");
    name.textContent = "📎 " + file.name;
    var bytes = document.createElement("span");
    bytes.className = "size";
    bytes.textContent = size(file.size);
    a.appendChild(name);
    a.appendChild(bytes);
    return a;
  }

  // The elements a test message asks for, each named for the position beacon.
  function testLinks(links) {
    var row = document.createElement("div");
    row.className = "links";
    links.forEach(function (link) {
      var element;
      if (link.kind === "open") {
        element = document.createElement("button");
        element.type = "button";
        element.addEventListener("click", function () { window.open(link.href); });
      } else {
        element = document.createElement("a");
        element.href = link.href;
        if (link.kind === "new-tab") element.target = "_blank";
        if (link.kind === "download") element.setAttribute("download", "");
      }
      element.textContent = link.label;
      element.setAttribute("data-beacon", link.label);
      row.appendChild(element);
    });
    return row;
  }

  // Where the named elements are on screen (CSS pixels from the top left of
  // the page's viewport), sent when they first show and when they move: the
  // tests click them there. The download notice's button counts too.
  var positions = {};
  function reportPositions() {
    var named = Array.prototype.map.call(document.querySelectorAll("[data-beacon]"), function (element) {
      return [element.getAttribute("data-beacon"), element];
    });
    var notice = document.getElementById("velto-download-notice");
    var buttons = notice ? notice.querySelectorAll("button") : [];
    if (buttons.length > 1) named.push(["notice-open", buttons[0]]);
    named.forEach(function (item) {
      var r = item[1].getBoundingClientRect();
      var id = item[0] + ":" + [r.left, r.top, r.width, r.height].map(Math.round).join(",");
      if (positions[item[0]] !== id) {
        positions[item[0]] = id;
        beacon({ event: "position", id: id });
      }
    });
  }

  function clock(seconds) {
    var d = new Date(seconds * 1000);
    return ("0" + d.getHours()).slice(-2) + ":" + ("0" + d.getMinutes()).slice(-2);
  }

  function show(m, own) {
    if (shown[m.id]) return;
    shown[m.id] = true;
    var empty = document.getElementById("empty");
    if (empty) empty.remove();
    var atBottom = list.scrollHeight - list.scrollTop - list.clientHeight < 40;
    var box = document.createElement("div");
    box.className = own ? "msg own" : "msg";
    var author = document.createElement("div");
    author.className = "author";
    author.textContent = m.author;
    var text = document.createElement("div");
    linkify(text, m.text);
    var time = document.createElement("div");
    time.className = "time";
    time.textContent = clock(m.time);
    box.appendChild(author);
    box.appendChild(text);
    if (m.attachment) box.appendChild(fileLink(m.attachment));
    if (m.links) box.appendChild(testLinks(m.links));
    box.appendChild(time);
    list.appendChild(box);
    if (own || atBottom) list.scrollTop = list.scrollHeight;
    reportPositions();
  }

  function notify(m) {
    var fn = window.qx_notify_new_message;
    if (typeof fn !== "function") return;
    beacon({ event: "notify", id: m.id });
    // The host answers with a promise; a failing host must not break the page.
    Promise.resolve().then(function () { return fn(m.author, m.text); }).then(
      function () { beacon({ event: "notify-resolved", id: m.id }); },
      function () { beacon({ event: "notify-rejected", id: m.id }); });
  }

  // Desktop notifications, when the test set-up asks for them: the permission
  // the page starts with, the answer to its request at the first key or click
  // (a request needs the user's gesture), and one notification per message
  // from someone else.
  function showNotification(m) {
    if (!setup.notifications || !("Notification" in window) || Notification.permission !== "granted") return;
    var note = new Notification(m.author, { body: m.text, tag: String(m.id) });
    note.onshow = function () { beacon({ event: "notification-shown", id: m.id }); };
    note.onerror = function () { beacon({ event: "notification-error", id: m.id }); };
  }
  if (setup.notifications && "Notification" in window) {
    beacon({ event: "notification-permission", id: Notification.permission });
    var asked = false;
    var ask = function () {
      if (asked) return;
      asked = true;
      Notification.requestPermission().then(function (answer) { beacon({ event: "permission-answer", id: answer }); });
    };
    document.addEventListener("keydown", ask, true);
    document.addEventListener("click", ask, true);
  }
  if (setup.frame) {
    // A strip over the header, at the top left, for a test to click into.
    var frame = document.createElement("iframe");
    frame.src = setup.frame;
    frame.style.cssText = "position:fixed;left:0;top:0;width:100%;height:60px;border:0;background:#fff";
    document.body.appendChild(frame);
  }

  function poll() {
    fetch("/chat/messages?since=" + lastId, { cache: "no-store" })
      .then(function (r) { if (!r.ok) throw new Error(r.status); return r.json(); })
      .then(function (data) {
        status.textContent = "в сети";
        data.messages.forEach(function (m) {
          var own = m.client === client;
          // Our own message, already on screen, came back before the answer to its send.
          if (own && pending[m.nonce]) { delete pending[m.nonce]; shown[m.id] = true; }
          var fresh = !shown[m.id];
          show(m, own);
          if (loaded && fresh && !own) { notify(m); showNotification(m); }
        });
        lastId = Math.max(lastId, data.last);
        loaded = true;
      })
      .catch(function () { status.textContent = "нет связи с сервером"; })
      .then(function () { setTimeout(poll, POLL_MS); });
  }

  document.getElementById("form").addEventListener("submit", function (e) {
    e.preventDefault();
    var text = input.value.trim();
    if (!text) return;
    input.value = "";
    // Shown at once; the poll that brings it back is ignored by id.
    var nonce = "n" + (++sent);
    pending[nonce] = true;
    show({ id: "local-" + nonce, author: "Вы", text: text, time: Date.now() / 1000 }, true);
    fetch("/chat/messages", {
      method: "POST", cache: "no-store", headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ text: text, client: client, nonce: nonce })
    }).then(function (r) { if (!r.ok) throw new Error(r.status); return r.json(); })
      .then(function (m) { delete pending[m.nonce]; shown[m.id] = true; })
      .catch(function () { status.textContent = "сообщение не отправлено"; });
  });

  // The size the page is shown at, for the tests of the window around it.
  var reported = "";
  function reportViewport() {
    var size = window.innerWidth + "x" + window.innerHeight;
    if (size !== reported) { reported = size; beacon({ event: "viewport", id: size }); }
  }
  var resizeTimer = 0;
  window.addEventListener("resize", function () {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(function () { reportViewport(); reportPositions(); }, 100);
  });
  var scrollTimer = 0;
  list.addEventListener("scroll", function () {
    clearTimeout(scrollTimer);
    scrollTimer = setTimeout(reportPositions, 100);
  });
  // The client's notice of a finished download: its text, for the tests.
  var noticeSeen = null;
  new MutationObserver(function () {
    var notice = document.getElementById("velto-download-notice");
    if (notice && notice !== noticeSeen) {
      noticeSeen = notice;
      beacon({ event: "notice", id: notice.textContent });
    }
    reportPositions();
  }).observe(document.body, { childList: true });

  window.addEventListener("load", function () { beacon({ event: "load" }); reportViewport(); });
  poll();
})();
</script>
</body>
</html>
"""


# A bare page for the browser engine's tests: it owns one global of its own,
# leaves data behind (a cookie, local storage) and reports its load.
BINDINGS_PAGE = """<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>bindings</title></head>
<body>
<p>bindings</p>
<script>
"use strict";
window.page_owned = function () { return "page"; };
document.cookie = "velto_test=1; max-age=3600; path=/; secure";
try { localStorage.setItem("velto_test", "stored"); } catch (e) {}
window.addEventListener("load", function () {
  fetch("/chat/beacon?event=load&id=bindings", { method: "POST", cache: "no-store" }).catch(function () {});
});
</script>
</body>
</html>
"""


# A frame for the chat page's notification tests, usually of another origin:
# a click anywhere asks for the notification permission and reports the
# answer as the beacon `frame-permission`.
PERMISSION_FRAME_PAGE = """<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>frame</title>
<style>html, body { height: 100%; margin: 0; } body { background: #ffe9a8; font: 13px sans-serif; }</style>
</head>
<body>
<p>frame</p>
<script>
"use strict";
function beacon(event, id) {
  fetch("/chat/beacon?event=" + event + "&id=" + encodeURIComponent(id), { method: "POST", cache: "no-store" })
    .catch(function () {});
}
beacon("frame-load", location.origin);
document.addEventListener("click", function () {
  Notification.requestPermission().then(function (answer) { beacon("frame-permission", answer); });
});
</script>
</body>
</html>
"""


# --- HTTP ------------------------------------------------------------------------

def html_page(title, text):
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%s</title></head>"
            "<body><h1>%s</h1><p>%s</p></body></html>\n" % (
                html.escape(title), html.escape(title), html.escape(text))).encode()


def int_param(query, name, default, low, high):
    try:
        value = int(query.get(name, [str(default)])[0])
    except ValueError:
        return None
    return value if low <= value <= high else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VeltoTestServer/1.0"
    timeout = IDLE_CONNECTION_S

    # --- plumbing ---

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):  # noqa: A002 (name fixed by the base class)
        log.info("%s %s", self.address_string(), format % args)

    def send_body(self, status, body, content_type="text/html; charset=utf-8", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def send_json(self, value, status=200):
        self.send_body(status, json.dumps(value, ensure_ascii=False).encode(),
                       "application/json; charset=utf-8")

    def send_error_page(self, status, text=None):
        try:
            phrase = http.HTTPStatus(status).phrase
        except ValueError:
            phrase = "Status"
        self.send_body(status, html_page("%d %s" % (status, phrase), text or phrase))

    def read_body(self, limit=65536):
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0 or length > limit:
            self.close_connection = True
            return None
        return self.rfile.read(length) if length else b""

    def record(self):
        self.server.state.record_request({
            "method": self.command, "path": self.path,
            "user_agent": self.headers.get("User-Agent", ""),
            "time": time.time(), "port": self.server.server_address[1]})

    def do_GET(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def dispatch(self):
        url = urllib.parse.urlsplit(self.path)
        path = url.path
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        if path not in ("/test/requests", "/test/reset", "/test/beacons"):
            self.record()
        routes = self.server.routes
        route = routes.get(path)
        if route is None:
            for pattern, handler in self.server.pattern_routes:
                match = pattern.fullmatch(path)
                if match:
                    return handler(self, query, *match.groups())
            return self.send_error_page(404, "Нет такой страницы: " + path)
        return route(self, query)

    # --- chat ---

    def chat_page(self, query):
        setup = json.dumps(self.server.state.get_chat_setup()).replace("</", "<\\/")
        self.send_body(200, CHAT_PAGE.replace("/*SETUP*/{}", setup).encode())

    def chat_messages(self, query):
        state = self.server.state
        if self.command == "POST":
            body = self.read_body()
            try:
                data = json.loads(body or b"{}")
                text = str(data.get("text", "")).strip()
            except (ValueError, AttributeError):
                return self.send_error_page(400, "bad message")
            if not text:
                return self.send_error_page(400, "empty message")
            message = state.add_message(str(data.get("author") or "Вы"), text,
                                        str(data.get("client", "")), str(data.get("nonce", "")))
            return self.send_json(message)
        since = int_param(query, "since", 0, 0, 1 << 62)
        if since is None:
            return self.send_error_page(400, "bad since")
        messages, last = state.messages_since(since)
        self.send_json({"messages": messages, "last": last})

    def chat_beacon(self, query):
        if self.command == "POST":
            self.read_body()
        self.server.state.record_beacon({
            "event": query.get("event", [""])[0], "id": query.get("id", [""])[0],
            "user_agent": self.headers.get("User-Agent", ""), "time": time.time()})
        self.send_response(204)
        self.send_header("Content-Length", "0")
        self.end_headers()

    # --- update files ---

    def descriptor(self, query):
        shared = self.server.shared
        body = self.server.descriptor()
        with shared.lock:
            padding, drip_ms = shared.descriptor_padding, shared.descriptor_drip_ms
        if padding:
            body += b";" * padding + b"\r\n"
        if not drip_ms:
            return self.send_body(200, body, "text/plain; charset=utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        deadline = time.monotonic() + self.server.stall_limit
        for offset in range(len(body)):
            if offset and (self.server.stopping.wait(drip_ms / 1000) or time.monotonic() > deadline):
                self.close_connection = True
                return None
            self.wfile.write(body[offset:offset + 1])
            self.wfile.flush()
        return None

    def updater(self, query):
        data = self.server.updater()
        if data is None:
            return self.send_error_page(404, "Программа обновления не опубликована")
        shared = self.server.shared
        with shared.lock:
            drip_ms = shared.updater_drip_ms
        if not drip_ms:
            return self.send_body(200, data, "application/octet-stream")
        # A slow line: 16 bytes at a time.
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        for offset in range(0, len(data), 16):
            if offset and self.server.stopping.wait(drip_ms / 1000):
                self.close_connection = True
                return None
            self.wfile.write(data[offset:offset + 16])
            self.wfile.flush()
        return None

    def chat_file(self, query, quoted):
        name = urllib.parse.unquote(quoted)
        content_type = mimetypes.guess_type(name)[0] or "application/octet-stream"
        self.send_body(200, file_bytes(name), content_type,
                       headers=(("Content-Disposition", content_disposition(name)),))

    def updater_signature(self, query):
        try:
            signature = self.server.shared.updater_signature()
        except (OSError, RuntimeError) as error:
            log.error("cannot sign the updater: %s", error)
            return self.send_error_page(500, "Не удалось подписать программу обновления")
        if signature is None:
            return self.send_error_page(404, "Подпись программы обновления не опубликована")
        self.send_body(200, signature, "application/octet-stream")

    def package_zip(self, query):
        self.send_package(PACKAGE_ZIP_PATH, "application/zip")

    def package_tar(self, query):
        self.send_package(PACKAGE_TAR_PATH, "application/gzip")

    def send_package(self, path, content_type):
        data = self.server.shared.package(path)
        if data is None:
            return self.send_error_page(404, "Пакет обновления не опубликован")
        return self.send_body(200, data, content_type)

    def package_signature(self, query):
        try:
            signature = self.server.shared.package_signature(self.path.split("?", 1)[0][:-len(SIGNATURE_SUFFIX)])
        except (OSError, RuntimeError) as error:
            log.error("cannot sign the package: %s", error)
            return self.send_error_page(500, "Не удалось подписать пакет обновления")
        if signature is None:
            return self.send_error_page(404, "Подпись пакета обновления не опубликована")
        self.send_body(200, signature, "application/octet-stream")

    # --- test routes ---

    def test_status(self, query, code):
        status = int(code)
        if not 200 <= status <= 599:
            return self.send_error_page(400, "status must be 200 to 599")
        if status in (204, 304):
            self.send_response(status)
            self.end_headers()
            return None
        return self.send_error_page(status, "Test page with status %d" % status)

    def test_redirect(self, query):
        target = query.get("to", [""])[0]
        status = int_param(query, "code", 302, 301, 308)
        if not target or status not in (301, 302, 303, 307, 308):
            return self.send_error_page(400, "need to=<path> and a redirect code")
        self.send_body(status, html_page("Redirect", target), headers=(("Location", target),))

    def test_bytes(self, query, count):
        count = int(count)
        if count > MAX_TEST_BYTES:
            return self.send_error_page(400, "at most %d bytes" % MAX_TEST_BYTES)
        # ?unannounced: no length up front; the body comes in chunks.
        announced = "unannounced" not in query
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if announced:
            self.send_header("Content-Length", str(count))
        else:
            self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        if self.command == "HEAD":
            return None
        chunk = 65536
        for offset in range(0, count, chunk):
            data = pattern_bytes(offset, min(chunk, count - offset))
            if announced:
                self.wfile.write(data)
            else:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
        if not announced:
            self.wfile.write(b"0\r\n\r\n")
        return None

    def test_slow(self, query):
        count = int_param(query, "bytes", 1024, 0, MAX_TEST_BYTES)
        delay_ms = int_param(query, "delay_ms", 500, 0, MAX_SLOW_DELAY_MS)
        chunk = int_param(query, "chunk", 64, 1, 1 << 20)
        if None in (count, delay_ms, chunk):
            return self.send_error_page(400, "bad bytes, delay_ms or chunk")
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(count))
        self.end_headers()
        if self.command == "HEAD":
            return None
        for offset in range(0, count, chunk):
            if offset and self.server.stopping.wait(delay_ms / 1000):
                self.close_connection = True
                return None
            self.wfile.write(pattern_bytes(offset, min(chunk, count - offset)))
            self.wfile.flush()
        return None

    def test_stall(self, query):
        count = int_param(query, "bytes", 0, 0, 1 << 20)
        if count is None:
            return self.send_error_page(400, "bad bytes")
        # One byte more is announced than is ever sent, so the client keeps waiting.
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(count + 1))
        self.end_headers()
        self.wfile.write(pattern_bytes(0, count))
        self.wfile.flush()
        self.close_connection = True
        self.wait_for_disconnect(self.server.stall_limit)
        return None

    def wait_for_disconnect(self, limit):
        deadline = time.monotonic() + limit
        sock = self.connection
        sock.settimeout(0.5)
        while time.monotonic() < deadline and not self.server.stopping.is_set():
            try:
                readable, _, _ = select.select([sock], [], [], 0.5)
                # Anything the client still sends is ignored; an end of stream means it left.
                if readable and not sock.recv(4096):
                    return
            except TimeoutError:
                continue
            except (OSError, ValueError):
                return

    def test_hangup(self, query):
        self.close_connection = True
        self.server.abort_connection(self.connection)

    def test_broken_file(self, query, quoted):
        """An attachment whose connection breaks off half-way."""
        name = urllib.parse.unquote(quoted)
        body = file_bytes(name)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Content-Disposition", content_disposition(name))
        self.end_headers()
        if self.command == "HEAD":
            return None
        self.wfile.write(body[:len(body) // 2])
        self.wfile.flush()
        self.close_connection = True
        self.server.abort_connection(self.connection)
        return None

    def test_bindings(self, query):
        self.send_body(200, BINDINGS_PAGE.encode())

    def test_permission_frame(self, query):
        self.send_body(200, PERMISSION_FRAME_PAGE.encode())

    def test_chat_setup(self, query):
        """What the chat page does besides chatting, until the next /test/reset."""
        setup = {}
        if query.get("notifications", [""])[0] == "1":
            setup["notifications"] = True
        if query.get("frame", [""])[0]:
            setup["frame"] = query["frame"][0]
        self.server.state.set_chat_setup(setup)
        self.send_json(setup)

    def test_message(self, query):
        text = query.get("text", ["Тестовое сообщение"])[0]
        author = query.get("author", [SIMULATED_AUTHOR])[0]
        extra = {}
        if query.get("attachment", [""])[0]:
            extra["attachment"] = attachment(query["attachment"][0], query.get("broken", [""])[0] == "1")
        # link=<label>|<kind>|<href>: an element the tests click (see LINK_KINDS).
        links = []
        for value in query.get("link", []):
            parts = value.split("|", 2)
            if len(parts) != 3 or parts[1] not in LINK_KINDS:
                return self.send_error_page(400, "link is <label>|<kind>|<href>, kind one of " + ", ".join(LINK_KINDS))
            links.append({"label": parts[0], "kind": parts[1], "href": parts[2]})
        if links:
            extra["links"] = links
        self.send_json(self.server.state.add_message(author, text, "test", extra=extra))

    def test_requests(self, query):
        requests, _ = self.server.state.snapshot()
        self.send_json(requests)

    def test_beacons(self, query):
        _, beacons = self.server.state.snapshot()
        self.send_json(beacons)

    def test_reset(self, query):
        self.server.state.reset()
        self.server.shared.publish_defaults()
        self.send_json({"reset": True})

    def test_publish(self, query):
        """Changes what the update routes serve until the next /test/reset."""
        shared = self.server.shared
        if query.get("signature", SIGNATURE_MODES)[0] not in SIGNATURE_MODES:
            return self.send_error_page(400, "signature is one of " + ", ".join(SIGNATURE_MODES))
        with shared.lock:
            if "version" in query:
                shared.published_version = query["version"][0]
                shared.descriptor_text = None
            if "descriptor" in query:
                shared.descriptor_text = query["descriptor"][0].encode()
            if "updater_file" in query:
                shared.updater_file = query["updater_file"][0] or None
            if "package_installer" in query:
                shared.package_installer = query["package_installer"][0] or None
            if "package_deb" in query:
                shared.package_deb = query["package_deb"][0] or None
            if "descriptor_padding" in query:
                shared.descriptor_padding = max(0, min(int(query["descriptor_padding"][0]), 1 << 30))
            if "updater_drip_ms" in query:
                shared.updater_drip_ms = max(0, min(int(query["updater_drip_ms"][0]), 10000))
            if "descriptor_drip_ms" in query:
                shared.descriptor_drip_ms = max(0, min(int(query["descriptor_drip_ms"][0]), 10000))
            if "signing_key" in query:
                shared.signing_key = query["signing_key"][0] or None
            if "signature" in query:
                shared.signature_mode = query["signature"][0]
            published = {"version": shared.published_version, "updater_file": shared.updater_file,
                         "signing_key": shared.signing_key, "signature": shared.signature_mode,
                         "package_installer": shared.package_installer, "package_deb": shared.package_deb}
        self.send_json(published)


ROUTES = {
    "/chat": Handler.chat_page,
    "/chat/": Handler.chat_page,
    "/chat/messages": Handler.chat_messages,
    "/chat/beacon": Handler.chat_beacon,
    DESCRIPTOR_PATH: Handler.descriptor,
    UPDATER_PATHS[0]: Handler.updater,
    UPDATER_PATHS[1]: Handler.updater,
    UPDATER_PATHS[0] + SIGNATURE_SUFFIX: Handler.updater_signature,
    UPDATER_PATHS[1] + SIGNATURE_SUFFIX: Handler.updater_signature,
    PACKAGE_ZIP_PATH: Handler.package_zip,
    PACKAGE_TAR_PATH: Handler.package_tar,
    PACKAGE_ZIP_PATH + SIGNATURE_SUFFIX: Handler.package_signature,
    PACKAGE_TAR_PATH + SIGNATURE_SUFFIX: Handler.package_signature,
    "/test/redirect": Handler.test_redirect,
    "/test/slow": Handler.test_slow,
    "/test/stall": Handler.test_stall,
    "/test/hangup": Handler.test_hangup,
    "/test/bindings": Handler.test_bindings,
    "/test/message": Handler.test_message,
    "/test/chat-setup": Handler.test_chat_setup,
    "/test/permission-frame": Handler.test_permission_frame,
    "/test/requests": Handler.test_requests,
    "/test/beacons": Handler.test_beacons,
    "/test/reset": Handler.test_reset,
    "/test/publish": Handler.test_publish,
}

PATTERN_ROUTES = (
    (re.compile(r"/chat/files/([^/]+)"), Handler.chat_file),
    (re.compile(r"/test/broken-file/([^/]+)"), Handler.test_broken_file),
    (re.compile(r"/test/status/(\d{3})"), Handler.test_status),
    (re.compile(r"/test/bytes/(\d{1,10})"), Handler.test_bytes),
)


class VeltoServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, tls_context, shared):
        self.tls_context = tls_context
        self.state = shared.state
        self.stopping = shared.stopping
        self.stall_limit = shared.stall_limit
        self.shared = shared
        self.descriptor = shared.descriptor
        self.updater = shared.updater
        self.package_zip = shared.package_zip
        self.package_tar = shared.package_tar
        self.routes = ROUTES
        self.pattern_routes = PATTERN_ROUTES
        self.aborted = set()
        self.aborted_lock = threading.Lock()
        super().__init__((LISTEN_ADDRESS, port), Handler)

    def abort_connection(self, connection):
        with self.aborted_lock:
            self.aborted.add(id(connection))

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, on the connection's own thread, so a
        # client that never completes it cannot hold up the accept loop.
        request.settimeout(HANDSHAKE_TIMEOUT_S)
        if self.tls_context is None:
            # The plain-http listener: only for tests of what a client
            # refuses to follow.
            request.settimeout(None)
            try:
                self.RequestHandlerClass(request, client_address, self)
            except OSError as error:
                log.info("%s connection ended: %s", client_address[0], error)
            return
        try:
            tls = self.tls_context.wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError) as error:
            log.info("%s TLS handshake failed: %s", client_address[0], error)
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        except (OSError, ssl.SSLError) as error:
            log.info("%s connection ended: %s", client_address[0], error)
        finally:
            with self.aborted_lock:
                aborted = id(tls) in self.aborted
                self.aborted.discard(id(tls))
            if not aborted:
                # Orderly end: close_notify, bounded in case the peer is gone.
                with contextlib.suppress(OSError, ssl.SSLError, ValueError):
                    tls.settimeout(1)
                    tls.unwrap()
            tls.close()

    def shutdown_request(self, request):
        # finish_request closed the TLS socket, which owns the descriptor now.
        with contextlib.suppress(OSError):
            request.close()

    def handle_error(self, request, client_address):
        log.exception("error while serving %s", client_address[0])


class Shared:
    """What every listener serves."""

    def __init__(self, args):
        self.state = ChatState()
        self.stopping = threading.Event()
        self.stall_limit = args.stall_limit
        self.args = args
        self.lock = threading.Lock()
        self.publish_defaults()
        self.package_zip = make_zip()
        self.package_tar = make_tar_gz()

    def publish_defaults(self):
        with self.lock:
            self.descriptor_file = self.args.descriptor_file
            self.descriptor_text = None
            self.updater_file = self.args.updater_file
            self.package_installer = self.args.package_installer
            self.package_deb = self.args.package_deb
            self.published_version = self.args.published_version
            # Tests of hostile servers: a descriptor padded far beyond any
            # real one, and one sent a byte at a time.
            self.descriptor_padding = 0
            self.descriptor_drip_ms = 0
            self.updater_drip_ms = 0
            self.signing_key = self.args.signing_key
            # Tests of signed updates: a signature by the key of other bytes,
            # or none at all.
            self.signature_mode = "right"

    def descriptor(self):
        if self.descriptor_text is not None:
            return self.descriptor_text
        # Read at every request, so that a test can change the file between runs.
        if self.descriptor_file:
            with open(self.descriptor_file, "rb") as f:
                return f.read()
        return ("chatvers=%s\r\n" % self.published_version).encode()

    def updater(self):
        return read_file_or_none(self.updater_file)

    def package(self, path):
        """The package at path: the published installer wrapped as the
        updater takes it, else a dummy; None (a 404) when the published file
        cannot be read."""
        with self.lock:
            source = self.package_installer if path == PACKAGE_ZIP_PATH else self.package_deb
        if not source:
            return self.package_zip if path == PACKAGE_ZIP_PATH else self.package_tar
        data = read_file_or_none(source)
        if data is None:
            return None
        wrap = wrap_zip if path == PACKAGE_ZIP_PATH else wrap_tar_gz
        return wrap(os.path.basename(source), data)

    def package_signature(self, path):
        """The signature served beside a package: made like the updater's."""
        return self.signature_of(self.package(path))

    def updater_signature(self):
        """The signature served beside the updater, or None (a 404): without
        a signing key or an updater nothing is signed."""
        return self.signature_of(self.updater())

    def signature_of(self, data):
        with self.lock:
            key, mode = self.signing_key, self.signature_mode
        if not key or mode == "absent" or data is None:
            return None
        if mode == "wrong":
            data += b"\0"
        return sign_ed25519(key, data)


def tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


def write_ready_file(path, info):
    directory = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(dir=directory, prefix=".ready-")
    with os.fdopen(fd, "w") as f:
        json.dump(info, f)
        f.write("\n")
    os.replace(temporary, path)


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Local HTTPS server for the Velto demo and tests.")
    parser.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help="port on 127.0.0.1 (default %(default)s; 0 picks a free one)")
    parser.add_argument("--state-dir", default=default_state_dir(),
                        help="where the test CA and the certificates are kept (default %(default)s)")
    parser.add_argument("--published-version", default=DEFAULT_VERSION,
                        help="version in the update descriptor (default %(default)s)")
    parser.add_argument("--descriptor-file", help="serve this file verbatim as the update descriptor")
    parser.add_argument("--updater-file", help="serve this file as the updater program")
    parser.add_argument("--package-installer",
                        help="serve this Windows installer as the package, stored in a zip under its own name")
    parser.add_argument("--package-deb",
                        help="serve this .deb as the Linux package, in a tar.gz under its own name")
    parser.add_argument("--signing-key",
                        help="Ed25519 private key (PEM) that signs the updater and the packages; each "
                             "signature is served beside its file with the suffix " + SIGNATURE_SUFFIX)
    parser.add_argument("--message-interval", type=float, default=5.0,
                        help="seconds between simulated chat messages, 0 for none (default %(default)s)")
    parser.add_argument("--ready-file", help="write port, CA path and pid here (JSON) once listening")
    parser.add_argument("--untrusted", action="store_true",
                        help="serve with a self-signed certificate that is not from the test CA")
    parser.add_argument("--untrusted-port", type=int,
                        help="also listen on this port with the self-signed certificate (0: a free one)")
    parser.add_argument("--plain-port", type=int,
                        help="also serve plain http (no TLS) on this port (0: a free one), for tests")
    parser.add_argument("--stall-limit", type=float, default=120.0,
                        help="seconds /test/stall keeps a connection open at most (default %(default)s)")
    parser.add_argument("--log-file", help="log requests to this file")
    parser.add_argument("--verbose", action="store_true", help="log requests to stderr")
    parser.add_argument("--init-only", action="store_true",
                        help="create the certificates, print the CA path and exit")
    args = parser.parse_args(argv)
    if args.message_interval < 0:
        parser.error("--message-interval must not be negative")
    extra_ports = [p for p in (args.untrusted_port, args.plain_port) if p is not None]
    if not 0 <= args.port <= 65535 or not all(0 <= p <= 65535 for p in extra_ports):
        parser.error("ports are 0 to 65535")
    return args


def setup_logging(args):
    handlers = []
    if args.verbose:
        handlers.append(logging.StreamHandler(sys.stderr))
    if args.log_file:
        handlers.append(logging.FileHandler(args.log_file, encoding="utf-8"))
    if not handlers:
        handlers.append(logging.NullHandler())
    logging.basicConfig(level=logging.INFO, handlers=handlers,
                        format="%(asctime)s %(name)s: %(message)s")


def main(argv=None):
    args = parse_args(argv)
    setup_logging(args)
    state_dir = os.path.abspath(args.state_dir)
    try:
        ensure_certificates(state_dir)
    except (OSError, RuntimeError) as error:
        print("velto_server: cannot prepare certificates in %s: %s" % (state_dir, error), file=sys.stderr)
        return 1
    ca_path = os.path.join(state_dir, CA_NAME)
    if args.signing_key:
        # A key that cannot sign is reported now, not at the first request.
        try:
            sign_ed25519(args.signing_key, b"velto")
        except (OSError, RuntimeError) as error:
            print("velto_server: cannot sign with %s: %s" % (args.signing_key, error), file=sys.stderr)
            return 1
    if args.init_only:
        print(ca_path, flush=True)
        return 0

    def cert(name):
        return os.path.join(state_dir, name)

    trusted = tls_context(cert(SERVER_CERT_NAME), cert(SERVER_KEY_NAME))
    untrusted = tls_context(cert(UNTRUSTED_CERT_NAME), cert(UNTRUSTED_KEY_NAME))
    shared = Shared(args)
    servers = []
    try:
        servers.append(VeltoServer(args.port, untrusted if args.untrusted else trusted, shared))
        if args.untrusted_port is not None:
            servers.append(VeltoServer(args.untrusted_port, untrusted, shared))
        plain = None
        if args.plain_port is not None:
            plain = VeltoServer(args.plain_port, None, shared)
            servers.append(plain)
    except OSError as error:
        print("velto_server: cannot listen on %s: %s" % (LISTEN_ADDRESS, error), file=sys.stderr)
        for server in servers:
            server.server_close()
        return 1

    stop = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, lambda *_: stop.set())

    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for s in servers]
    if args.message_interval > 0:
        threads.append(threading.Thread(target=message_generator, daemon=True,
                                        args=(shared.state, args.message_interval, shared.stopping)))
    for thread in threads:
        thread.start()

    port = servers[0].server_address[1]
    info = {"port": port, "ca": ca_path, "pid": os.getpid(),
            "url": "https://localhost:%d" % port, "untrusted": args.untrusted}
    if args.untrusted_port is not None:
        info["untrusted_port"] = servers[1].server_address[1]
    if plain is not None:
        info["plain_port"] = plain.server_address[1]
    if args.ready_file:
        write_ready_file(args.ready_file, info)
    print(port, flush=True)
    log.info("listening on https://localhost:%d/chat (CA %s)", port, ca_path)

    try:
        # The wait is bounded so that signals are seen even where a plain wait would not wake.
        while not stop.wait(1.0):
            pass
    finally:
        shared.stopping.set()
        for server in servers:
            server.shutdown()
            server.server_close()
        if args.ready_file:
            with contextlib.suppress(OSError):
                os.unlink(args.ready_file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
