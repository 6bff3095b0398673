#!/usr/bin/python3
"""A mail sink for trying the service's alert e-mails: an SMTP server that
keeps every message it accepts in MAIL_DIR and delivers nothing.

  smtp-sink.py --mail-dir DIR [--mode plain|starttls|tls|silent] [--addr A]
               [--port N] [--port-file F] [--cert F --key F]

Modes: plain (no TLS offered), starttls (STARTTLS offered, not required), tls
(TLS from the first byte), silent (accepts connections and never answers).
AUTH PLAIN and LOGIN are offered in every mode, also without TLS, and never
required; when SMTP_SINK_USER is set, only that user with the password in
SMTP_SINK_PASSWORD (both taken from the environment, never the command line)
is accepted. Each message becomes N.eml (the data as received) and N.json
(envelope sender and recipients, whether the session ran over TLS, the
authenticated user), and N.txt the message as a reader sees it: envelope,
TLS and user, the header names in order, From, To, Cc and Subject decoded,
a blank line and the decoded text. Runs until SIGTERM or SIGINT.
"""
import argparse
import asyncio
import email
import email.policy
import json
import os
import signal
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult


class Guarda:
    def __init__(self, pasta):
        self.pasta = pasta
        self.contador = 0

    async def handle_DATA(self, server, session, envelope):
        self.contador += 1
        base = os.path.join(self.pasta, "%06d" % self.contador)
        usuario = None
        if session.authenticated and session.auth_data is not None:
            login = getattr(session.auth_data, "login", None)
            usuario = login.decode("utf-8", "replace") if isinstance(login, bytes) else login
        info = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "tls": server.transport.get_extra_info("ssl_object") is not None,
            "user": usuario,
        }
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".json.tmp", "w") as f:
            json.dump(info, f)
        with open(base + ".txt.tmp", "w", encoding="utf-8", newline="\n") as f:
            f.write(legivel(envelope.original_content or envelope.content, info))
        # The message is complete only once its files carry their names; the
        # .txt last, so a reader that sees it sees everything.
        os.rename(base + ".eml.tmp", base + ".eml")
        os.rename(base + ".json.tmp", base + ".json")
        os.rename(base + ".txt.tmp", base + ".txt")
        return "250 OK"


def legivel(dados, info):
    msg = email.message_from_bytes(dados, policy=email.policy.default)
    linhas = [
        "Envelope-From: %s" % info["mail_from"],
        "Envelope-To: %s" % ",".join(info["rcpt_tos"]),
        "TLS: %d" % (1 if info["tls"] else 0),
        "User: %s" % (info["user"] or ""),
        "Headers: %s" % ",".join(msg.keys()),
    ]
    for nome in ("From", "To", "Cc", "Subject"):
        if msg[nome] is not None:
            linhas.append("%s: %s" % (nome, str(msg[nome])))
    parte = msg.get_body(preferencelist=("plain",))
    texto = parte.get_content() if parte is not None else ""
    linhas.append("Content-Type: %s" % (parte.get_content_type() if parte is not None else ""))
    return "\n".join(linhas) + "\n\n" + texto.replace("\r\n", "\n")


def autenticador(usuario_esperado, senha_esperada):
    def autentica(server, session, envelope, mechanism, auth_data):
        login = getattr(auth_data, "login", b"") or b""
        senha = getattr(auth_data, "password", b"") or b""
        if usuario_esperado is None:
            return AuthResult(success=True, auth_data=auth_data)
        ok = login == usuario_esperado.encode() and senha == (senha_esperada or "").encode()
        return AuthResult(success=ok, auth_data=auth_data if ok else None, handled=False)
    return autentica


async def principal(args):
    os.makedirs(args.mail_dir, exist_ok=True)
    loop = asyncio.get_running_loop()
    contexto = None
    if args.mode in ("starttls", "tls"):
        contexto = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        contexto.load_cert_chain(args.cert, args.key)
    guarda = Guarda(args.mail_dir)
    autentica = autenticador(os.environ.get("SMTP_SINK_USER"), os.environ.get("SMTP_SINK_PASSWORD"))

    if args.mode == "silent":
        conexoes = []

        def aceita(reader, writer):
            conexoes.append(writer)  # held open, never answered

        async def cliente(reader, writer):
            aceita(reader, writer)
            await reader.read()  # until the client gives up

        servidor = await asyncio.start_server(cliente, args.addr, args.port)
    else:
        def fabrica():
            return SMTP(guarda, hostname="smtp-sink.local",
                        tls_context=contexto if args.mode == "starttls" else None,
                        require_starttls=False, auth_required=False,
                        auth_require_tls=False, authenticator=autentica,
                        decode_data=False, loop=loop)
        servidor = await loop.create_server(
            fabrica, args.addr, args.port, ssl=contexto if args.mode == "tls" else None)

    porta = servidor.sockets[0].getsockname()[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write("%d\n" % porta)
        os.rename(args.port_file + ".tmp", args.port_file)
    print("smtp-sink: %s on %s:%d" % (args.mode, args.addr, porta), flush=True)

    parar = asyncio.Event()
    for s in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(s, parar.set)
    await parar.wait()
    servidor.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mail-dir", required=True)
    p.add_argument("--mode", default="starttls", choices=["plain", "starttls", "tls", "silent"])
    p.add_argument("--addr", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--port-file")
    p.add_argument("--cert")
    p.add_argument("--key")
    args = p.parse_args()
    if args.mode in ("starttls", "tls") and not (args.cert and args.key):
        p.error("--cert and --key are needed for TLS")
    asyncio.run(principal(args))


if __name__ == "__main__":
    sys.exit(main())
