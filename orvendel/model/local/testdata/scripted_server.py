#!/usr/bin/env python3
"""A scripted stand-in for a local model runtime, on loopback, for tests and
benchmarks. Standard library only.

    scripted_server.py [--port N] --script FILE
    scripted_server.py [--port N] --tokens N [--token TEXT]
    either with [--api-key KEY [--api-key-scope llama-server|all]]

The first line on stdout is the port it listens on (--port 0, the default,
picks a free one). After that, one JSON line per request received:
{"method": ..., "path": ..., "headers": {lower-case name: value}, "body": ...},
written before the answer.

--api-key KEY checks "Authorization: Bearer KEY" as llama-server --api-key
does: a request without it gets llama-server's 401 answer, except GET /health
and GET /v1/models, which llama-server leaves open (scope "llama-server", the
default). Scope "all" checks every request, as a key-checking proxy in front
of Ollama does.

--script FILE replays scripted answers. FILE is a JSON object keyed by
"METHOD /path"; each answer is
    {"status": 200, "content_type": "...", "framing": "chunked"|"length"|"close",
     "parts": ["<hex bytes>" | {"wait": true} | {"pause_ms": N}, ...],
     "end": "complete"|"close"|"reset"|"hang"}
Each hex part is one write (one chunk when chunked), 2 ms apart so that the
client reads them separately. {"wait": true} holds the answer until a line
arrives on stdin. "end" is how the answer stops: properly, by closing the
connection early, by a TCP reset, or never. Other requests get a 404.

--tokens N serves a ready llama-server: GET /health, GET /v1/models,
GET /props, and POST /v1/chat/completions answering TEXT (default "word ") N times, as one
completion or, with "stream": true, as N events in llama-server's format.
"""

import argparse
import json
import socket
import struct
import sys
import threading
import time

release = threading.Semaphore(0)
stdout_lock = threading.Lock()


def log(line):
    with stdout_lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(65536)
        if not piece:
            return None
        data += piece
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    method, path, _ = lines[0].split(" ", 2)
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    length = int(headers.get("content-length", "0"))
    while len(body) < length:
        piece = conn.recv(65536)
        if not piece:
            break
        body += piece
    return method, path, headers, body.decode("utf-8", "replace")


def head_bytes(status, content_type, framing, length=None):
    reasons = {200: "OK", 400: "Bad Request", 401: "Unauthorized", 404: "Not Found",
               500: "Internal Server Error", 503: "Service Unavailable"}
    head = "HTTP/1.1 %d %s\r\n" % (status, reasons.get(status, "Status"))
    if content_type:
        head += "Content-Type: %s\r\n" % content_type
    if framing == "chunked":
        head += "Transfer-Encoding: chunked\r\n"
    elif framing == "length":
        head += "Content-Length: %d\r\n" % length
    head += "Connection: close\r\n\r\n"
    return head.encode("latin-1")


def frame(data, framing):
    if framing == "chunked":
        return b"%x\r\n" % len(data) + data + b"\r\n"
    return data


def play(conn, answer):
    framing = answer.get("framing", "chunked")
    parts = answer.get("parts", [])
    raw = [bytes.fromhex(p) for p in parts if isinstance(p, str)]
    conn.sendall(head_bytes(answer.get("status", 200), answer.get("content_type", "text/event-stream"),
                            framing, sum(len(p) for p in raw)))
    for part in parts:
        if isinstance(part, dict):
            if part.get("wait"):
                release.acquire()
            if "pause_ms" in part:
                time.sleep(part["pause_ms"] / 1000)
            continue
        conn.sendall(frame(bytes.fromhex(part), framing))
        time.sleep(0.002)
    end = answer.get("end", "complete")
    if end == "complete" and framing == "chunked":
        conn.sendall(b"0\r\n\r\n")
    elif end == "reset":
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    elif end == "hang":
        threading.Event().wait()


def token_events(count, token):
    base = {"created": 1733650000, "id": "chatcmpl-scripted", "model": "scripted",
            "system_fingerprint": "b4273-scripted", "object": "chat.completion.chunk"}

    def event(delta, finish=None):
        chunk = dict(base, choices=[{"finish_reason": finish, "index": 0, "delta": delta}])
        return ("data: " + json.dumps(chunk, separators=(",", ":")) + "\n\n").encode("utf-8")

    yield event({"role": "assistant", "content": None})
    for _ in range(count):
        yield event({"content": token})
    yield event({}, "stop")
    yield b"data: [DONE]\n\n"


def serve_tokens(conn, method, path, body, count, token):
    if method == "GET" and path == "/health":
        data = b'{"status":"ok"}'
        conn.sendall(head_bytes(200, "application/json", "length", len(data)) + data)
    elif method == "GET" and path == "/v1/models":
        data = b'{"object":"list","data":[{"id":"scripted","object":"model","owned_by":"llamacpp"}]}'
        conn.sendall(head_bytes(200, "application/json", "length", len(data)) + data)
    elif method == "GET" and path == "/props":
        data = b'{"total_slots":1,"model_path":"scripted.gguf"}'
        conn.sendall(head_bytes(200, "application/json", "length", len(data)) + data)
    elif method == "POST" and path == "/v1/chat/completions":
        try:
            stream = json.loads(body).get("stream", False)
        except ValueError:
            stream = False
        if stream:
            conn.sendall(head_bytes(200, "text/event-stream", "chunked"))
            for event in token_events(count, token):
                conn.sendall(frame(event, "chunked"))
            conn.sendall(b"0\r\n\r\n")
        else:
            reply = {"choices": [{"finish_reason": "stop", "index": 0,
                                  "message": {"role": "assistant", "content": token * count}}],
                     "object": "chat.completion", "model": "scripted"}
            data = json.dumps(reply).encode("utf-8")
            conn.sendall(head_bytes(200, "application/json", "length", len(data)) + data)
    else:
        data = b"404 page not found"
        conn.sendall(head_bytes(404, "text/plain", "length", len(data)) + data)


def key_refused(args, method, path, headers):
    if args.api_key is None:
        return False
    if args.api_key_scope == "llama-server" and method == "GET" and path in ("/health", "/v1/models"):
        return False
    return headers.get("authorization") != "Bearer " + args.api_key


def handle(conn, args, script):
    try:
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        request = read_request(conn)
        if request is None:
            return
        method, path, headers, body = request
        log(json.dumps({"method": method, "path": path, "headers": headers, "body": body}))
        if key_refused(args, method, path, headers):
            data = b'{"error":{"code":401,"message":"Invalid API Key","type":"authentication_error"}}'
            conn.sendall(head_bytes(401, "application/json", "length", len(data)) + data)
            return
        if script is None:
            serve_tokens(conn, method, path, body, args.tokens, args.token)
            return
        answer = script.get(method + " " + path)
        if answer is None:
            data = b"404 page not found"
            conn.sendall(head_bytes(404, "text/plain", "length", len(data)) + data)
            return
        play(conn, answer)
    except OSError:
        pass
    finally:
        conn.close()


def read_stdin():
    for _ in sys.stdin:
        release.release()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--script")
    group.add_argument("--tokens", type=int)
    parser.add_argument("--token", default="word ")
    parser.add_argument("--api-key")
    parser.add_argument("--api-key-scope", choices=["llama-server", "all"], default="llama-server")
    args = parser.parse_args()
    script = None
    if args.script:
        with open(args.script, encoding="utf-8") as f:
            script = json.load(f)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(64)
    log(str(listener.getsockname()[1]))
    threading.Thread(target=read_stdin, daemon=True).start()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=handle, args=(conn, args, script), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
