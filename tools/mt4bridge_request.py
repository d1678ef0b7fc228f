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

Requests that ended badly wait on the dead-letter queue DLQ.<queue>:

    tools/mt4bridge_request.py --queue tradeTransInfo list [--json]
    tools/mt4bridge_request.py --queue tradeTransInfo replay ID:mq1-36501-1767225600000-1:1:1:1:1

"list" shows them without taking them off: per request its message id, its
text (passwords as "***") and why it is there: the reply the broker never
accepted ("undeliveredReply"), the service's reason ("deadLetterReason") or
the broker's ("dlqDeliveryFailureCause"). With --json, one JSON object a
line. "replay" puts the request with that message id back on its queue once
the cause is fixed, as a new message with the same body and properties (less
those three), and takes it off the dead-letter queue only once the broker has
the copy; a request not there ends the tool with status 3.

The trading server's events, when the service publishes them (serverEvents,
a queue or "topic://name"):

    tools/mt4bridge_request.py --queue topic://serverEvents listen [--count N]

prints each event as one JSON line, as it arrives, until N events (default:
until interrupted). A resync, or a gap in the sequence, is also told on
standard error: the back office should read its accounts again.
"""
import argparse
import json
import os
import re
import sys
import uuid

from proton import Message
from proton.handlers import MessagingHandler
from proton.reactor import Container, Copy, Selector

REPLY_KEYS = {"symboTraderDateUpdate": "symboTraderDateUpdateeCallback"}
SCHEMAS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "schemas")
# Why a request is on its dead-letter queue: the service's move, its own
# reason, the broker's.
DEAD_LETTER_PROPERTIES = ("undeliveredReply", "deadLetterReason", "dlqDeliveryFailureCause")
NOT_FOUND = 3
# The service's secret members (src/util/Mask.cpp), shown as "***".
SECRET = re.compile(r'("(?:password|masterPass|investorPass|newPass)"\s*:\s*)'
                    r'("(?:[^"\\]|\\.)*"|[^,}\]\s]+)')


def mask_secrets(text):
    return SECRET.sub(r'\1"***"', text)


def body_text(message):
    """A text body as it is; any other body (not a request) as Python
    writes it, b'...' for bytes."""
    body = message.body
    return body if isinstance(body, str) else repr(body)


def jms_message_id(message_id):
    """A message id as ActiveMQ's JMS side knows it (JMSMessageID), the form
    a selector matches: string ids start with "ID:" (added when missing)."""
    if isinstance(message_id, str):
        return message_id if message_id.startswith("ID:") else "ID:" + message_id
    if isinstance(message_id, uuid.UUID):
        return "ID:AMQP_UUID:%s" % message_id
    if isinstance(message_id, int):
        return "ID:AMQP_ULONG:%d" % message_id
    return "ID:AMQP_BINARY:%s" % bytes(message_id).hex().upper()


def connect(container, url, user, password):
    kwargs = {}
    if user:
        kwargs = {"user": user, "password": password, "allowed_mechs": "PLAIN"}
    return container.connect(url, **kwargs)


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
        conn = connect(event.container, self.url, self.user, self.password)
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


class DeadLetters(MessagingHandler):
    """Reads a dead-letter queue: every message without taking any off
    (browse), or the one with a message id. The broker answers the drain of
    the receiver's credit once it has nothing more to give."""

    def __init__(self, url, queue, timeout, user, password, message_id=None):
        super().__init__(prefetch=0, auto_accept=False)
        self.url, self.queue, self.timeout = url, queue, timeout
        self.user, self.password = user, password
        self.message_id = message_id
        self.messages = []
        self.done = False

    def on_start(self, event):
        self.conn = connect(event.container, self.url, self.user, self.password)
        if self.message_id is None:
            options, credit = Copy(), 1000000
        else:
            selector = "JMSMessageID = '%s'" % self.message_id.replace("'", "''")
            options, credit = Selector(selector), 1
        self.receiver = event.container.create_receiver(self.conn, self.queue, options=options)
        self.receiver.drain(credit)
        self.timer = event.container.schedule(self.timeout, self)

    def on_message(self, event):
        self.messages.append(event.message)
        if self.message_id is not None:
            self.found(event)

    def on_link_flow(self, event):
        if event.link == self.receiver and not self.receiver.draining() and not self.done:
            self.done = True
            if self.message_id is None or not self.messages:
                self.finish()

    def found(self, event):
        """The message of message_id has arrived; it stays unsettled."""

    def finish(self):
        self.timer.cancel()
        self.conn.close()

    def on_timer_task(self, event):
        event.container.stop()


class Replay(DeadLetters):
    """Takes the message of message_id off the dead-letter queue only once
    the broker has accepted its copy on the request queue. A crash between
    the two leaves it in both: a request is safe to run twice."""

    def __init__(self, url, queue, timeout, user, password, message_id):
        super().__init__(url, "DLQ." + queue, timeout, user, password, message_id)
        self.request_queue = queue
        self.sender = self.copy = self.delivery = None
        self.replayed = False
        self.refused = None  # the request queue's outcome, when not accepted

    def found(self, event):
        dead = event.message
        properties = {k: v for k, v in (dead.properties or {}).items()
                      if k not in DEAD_LETTER_PROPERTIES}
        # A new message (a new id): the service must not take it for the
        # request it already answered.
        self.copy = Message(body=dead.body, properties=properties or None, durable=True,
                            content_type=dead.content_type, subject=dead.subject,
                            correlation_id=dead.correlation_id)
        self.delivery = event.delivery
        self.sender = event.container.create_sender(self.conn, self.request_queue)

    def on_sendable(self, event):
        if event.sender == self.sender and self.copy is not None:
            event.sender.send(self.copy)
            self.copy = None

    def on_accepted(self, event):
        self.accept(self.delivery)
        self.replayed = True
        self.finish()

    def on_rejected(self, event):
        self.refuse(event, "rejected")

    def on_released(self, event):
        self.refuse(event, "released")

    def refuse(self, event, outcome):
        condition = event.delivery.remote.condition
        self.refused = outcome + (": %s" % condition.description if condition else "")
        self.release(self.delivery, delivered=False)
        self.finish()


class Listener(MessagingHandler):
    """Prints the events arriving on a queue or topic, count of them (0:
    until interrupted)."""

    def __init__(self, url, address, count, user, password):
        super().__init__()
        self.url, self.address, self.count = url, address, count
        self.user, self.password = user, password
        self.received = 0
        self.expected = None

    def on_start(self, event):
        self.conn = connect(event.container, self.url, self.user, self.password)
        event.container.create_receiver(self.conn, self.address)

    def on_message(self, event):
        text = body_text(event.message)
        print(text.rstrip("\n"), flush=True)
        try:
            message = json.loads(text)
            sequence = message["sequence"]
            if message.get("event") == "resync":
                sys.stderr.write(f"resync ({message.get('action')}): read again\n")
            elif self.expected is not None and sequence != self.expected:
                sys.stderr.write(f"gap: sequence {sequence}, {self.expected} expected: "
                                 f"read again\n")
            self.expected = sequence + 1
        except (ValueError, KeyError, TypeError):
            sys.stderr.write("not an event\n")
        self.received += 1
        if self.count and self.received >= self.count:
            self.conn.close()


def listen(a):
    try:
        Container(Listener(a.broker, a.queue, a.count, a.user, a.password)).run()
    except KeyboardInterrupt:
        pass


def list_dead_letters(a):
    dlq = "DLQ." + a.queue
    handler = DeadLetters(a.broker, dlq, a.timeout, a.user, a.password)
    Container(handler).run()
    if not handler.done:
        sys.exit(f"{dlq} not read within {a.timeout:g} s")
    for message in handler.messages:
        entry = {"id": jms_message_id(message.id), "request": mask_secrets(body_text(message))}
        for name in DEAD_LETTER_PROPERTIES:
            value = (message.properties or {}).get(name)
            if value is not None:
                entry[name] = mask_secrets(str(value))
        if a.json:
            print(json.dumps(entry))
            continue
        print(entry.pop("id"))
        for name, value in entry.items():
            print(f"  {name}: {value}")
        if not any(name in entry for name in DEAD_LETTER_PROPERTIES):
            print("  (no reason given)")
    if not a.json:
        print(f"{dlq}: {len(handler.messages)} request(s)")


def replay(a, message_id):
    dlq = "DLQ." + a.queue
    handler = Replay(a.broker, a.queue, a.timeout, a.user, a.password, jms_message_id(message_id))
    Container(handler).run()
    if handler.replayed:
        print(f"{handler.message_id} put back on {a.queue}")
    elif handler.refused:
        sys.exit(f"{a.queue} refused the copy of {handler.message_id} ({handler.refused}); "
                 f"it stays on {dlq}")
    elif handler.done and not handler.messages:
        sys.stderr.write(f"no request with message id {handler.message_id} on {dlq}\n")
        sys.exit(NOT_FOUND)
    else:
        sys.exit(f"{handler.message_id} not put back within {a.timeout:g} s; it stays on "
                 f"{dlq} (and may also be on {a.queue})")


def main():
    usage = ("%(prog)s [options] --queue QUEUE REQUEST\n"
             "       %(prog)s [options] --queue QUEUE list [--json]\n"
             "       %(prog)s [options] --queue QUEUE replay MESSAGE_ID\n"
             "       %(prog)s [options] --queue QUEUE listen [--count N]")
    p = argparse.ArgumentParser(description=__doc__, usage=usage,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--broker", default="amqp://127.0.0.1:5672", help="broker URL")
    p.add_argument("--queue", required=True, help="request queue name")
    p.add_argument("--reply-queue", help="reply queue name")
    p.add_argument("--timeout", type=float, default=30.0, help="seconds to wait for the reply "
                                                                "(list, replay: for the broker)")
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--check", action="store_true",
                   help="refuse a request that does not match its schema")
    p.add_argument("--key", help="the request queue's configuration key, for --check "
                                 "(default: the queue name)")
    p.add_argument("--json", action="store_true", help="list: one JSON object a line")
    p.add_argument("--count", type=int, default=0, help="listen: end after this many events")
    p.add_argument("request", nargs="+", metavar="REQUEST",
                   help="the JSON request object; or list, or replay MESSAGE_ID, on DLQ.<queue>; "
                        "or listen")
    a = p.parse_args()
    command, args = a.request[0], a.request[1:]
    if command == "list" and not args:
        return list_dead_letters(a)
    if command == "replay" and len(args) == 1:
        return replay(a, args[0])
    if command == "listen" and not args:
        return listen(a)
    if command in ("list", "replay", "listen") or args:
        p.error("expected one JSON request, list, replay MESSAGE_ID, or listen")
    a.request = command
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
