#!/usr/bin/python3
"""The back office's side, for operators: sends one JSON request to a
request queue and prints the reply that arrives for it on the reply queue.

    tools/mt4bridge_request.py --queue userRecordCreate \
        '{"serial":"1","login":7001,"name":"Ann","group":"demoforex"}'

The reply queue defaults to the request queue's name followed by
"Callback" (symboTraderDateUpdate answers on symboTraderDateUpdateeCallback).
A reply belongs to the request when its data.serial equals the request's
serial; a serial is added when the request has none. Replies of other
requests are left unsettled and go back to the queue when the client
disconnects.

With --check the request is first held against its JSON Schema,
docs/schemas/<key>.request.json (--key: the request queue's configuration
key, by default the queue name); a request that does not match is not sent
and the tool ends with status 2, the mismatch on standard error.
"""
import argparse
import json
import os
import sys
import uuid

from proton import Message
from proton.handlers import MessagingHandler
from proton.reactor import Container

REPLY_KEYS = {"symboTraderDateUpdate": "symboTraderDateUpdateeCallback"}
SCHEMAS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "schemas")


def schema_error(key, request):
    """Why request does not match the request schema of queue key, or None."""
    import jsonschema  # only needed here: python3-jsonschema
    path = os.path.join(SCHEMAS, key + ".request.json")
    try:
        with open(path) as f:
            validator = jsonschema.Draft202012Validator(json.load(f))
    except OSError:
        return f"no request schema for {key} ({path})"
    error = jsonschema.exceptions.best_match(validator.iter_errors(request))
    if error is None:
        return None
    return f"the request does not match {key}.request.json: {error.message} " \
           f"at {list(error.absolute_path)}"


class RequestReply(MessagingHandler):
    def __init__(self, url, queue, reply_queue, body, serial, timeout, user, password):
        super().__init__(prefetch=100, auto_accept=False)
        self.url, self.queue, self.reply_queue = url, queue, reply_queue
        self.body, self.serial, self.timeout = body, serial, timeout
        self.user, self.password = user, password
        self.reply = None
        self.sent = False

    def on_start(self, event):
        kwargs = {}
        if self.user:
            kwargs = {"user": self.user, "password": self.password, "allowed_mechs": "PLAIN"}
        conn = event.container.connect(self.url, **kwargs)
        event.container.create_receiver(conn, self.reply_queue)
        self.sender = event.container.create_sender(conn, self.queue)
        self.timer = event.container.schedule(self.timeout, self)

    def on_sendable(self, event):
        if not self.sent:
            event.sender.send(Message(body=self.body, durable=True))
            self.sent = True

    def on_message(self, event):
        text = event.message.body
        try:
            serial = json.loads(text).get("data", {}).get("serial")
        except (ValueError, AttributeError, TypeError):
            serial = None
        if serial == self.serial:
            self.accept(event.delivery)
            self.reply = text
            self.timer.cancel()
            event.connection.close()
        # Another request's reply stays unsettled: the broker puts it back
        # on the queue when this client disconnects.

    def on_timer_task(self, event):
        event.container.stop()


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--broker", default="amqp://127.0.0.1:5672", help="broker URL")
    p.add_argument("--queue", required=True, help="request queue name")
    p.add_argument("--reply-queue", help="reply queue name")
    p.add_argument("--timeout", type=float, default=30.0, help="seconds to wait for the reply")
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--check", action="store_true",
                   help="refuse a request that does not match its schema")
    p.add_argument("--key", help="the request queue's configuration key, for --check "
                                 "(default: the queue name)")
    p.add_argument("request", help="the JSON request object")
    a = p.parse_args()
    try:
        request = json.loads(a.request)
    except ValueError as e:
        sys.exit(f"the request is not JSON: {e}")
    if not isinstance(request, dict):
        sys.exit("the request must be a JSON object")
    if "serial" not in request:
        request["serial"] = uuid.uuid4().hex[:12]
    if a.check:
        error = schema_error(a.key or a.queue, request)
        if error:
            sys.stderr.write(error + "\n")
            sys.exit(2)
    serial = str(request["serial"])
    reply_queue = a.reply_queue or REPLY_KEYS.get(a.queue, a.queue + "Callback")
    handler = RequestReply(a.broker, a.queue, reply_queue, json.dumps(request), serial,
                           a.timeout, a.user, a.password)
    Container(handler).run()
    if handler.reply is None:
        sys.exit(f"no reply on {reply_queue} within {a.timeout:g} s")
    sys.stdout.write(handler.reply if handler.reply.endswith("\n") else handler.reply + "\n")


if __name__ == "__main__":
    main()
