#!/usr/bin/python3
"""Writes a config.ini for the bridge service: every request queue named
after its key, every reply queue after its reply key.

    tools/make_config.py OUT --server 127.0.0.1:4443 --login 1 \
        --password managerpass --broker amqp://127.0.0.1:5672 [--set key=json ...] [--reads]
"""
import argparse
import json

REQUEST_KEYS = [
    "userRecordCreate", "userRecordUpdate", "userRecordPasswordUpdate",
    "tradeTransInfo", "userLeverageUpdate", "groupLeverage", "emailSend",
    "updateSymbol", "closeUserTrades", "importTrade", "symbolLeverageUpdate",
    "symbolTradeUpdate", "symboGtcPendingUpdate", "symboTraderDateUpdate",
    "symboQuoteDateUpdate",
]


# The account reads: optional queues, configured only when asked for.
READ_KEYS = ["userRecordGet", "userTradesGet", "userHistoryGet"]


def reply_key(key):
    return "symboTraderDateUpdateeCallback" if key == "symboTraderDateUpdate" else key + "Callback"


def build(server, login, password, broker, overrides=None, reads=False):
    """reads: the account reads' queues too, named after their keys."""
    cfg = {"server": server, "login": login, "password": password,
           "activeMqName": "", "activeMqPassword": "", "brokerURI": broker}
    keys = REQUEST_KEYS + (READ_KEYS if reads else [])
    for k in keys:
        cfg[k] = k
    for k in keys:
        cfg[reply_key(k)] = reply_key(k)
    cfg.update({"tradeCancellationCreditTransInfo": "trade cancellation credit",
                "pumpUpdateBidAsk": 0, "timeZone": 0})
    cfg.update(overrides or {})
    return cfg


def write(path, cfg):
    with open(path, "w") as f:
        json.dump(cfg, f, indent=2)
        f.write("\n")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("--server", required=True)
    p.add_argument("--login", type=int, default=1)
    p.add_argument("--password", default="managerpass")
    p.add_argument("--broker", default="amqp://127.0.0.1:5672")
    p.add_argument("--set", action="append", default=[], help="key=json value")
    p.add_argument("--reads", action="store_true", help="configure the account reads' queues")
    a = p.parse_args()
    overrides = {}
    for item in a.set:
        k, _, v = item.partition("=")
        overrides[k] = json.loads(v)
    write(a.out, build(a.server, a.login, a.password, a.broker, overrides, a.reads))


if __name__ == "__main__":
    main()
