#!/usr/bin/python3
"""A mail server for the tests: accepts mail on 127.0.0.1:PORT and stores each message in
FOLDER as N.eml (the data as received, dots already removed) and N.env (MAIL FROM and the
RCPT TO addresses, one a line). AUTH LOGIN is offered without TLS, for one user. Recipients
at the domain refused.test are refused with 550."""
import argparse
import asyncio
import os

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.endswith("@refused.test"):
            return "550 No such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".env", "w") as f:
            f.write("\n".join([envelope.mail_from] + list(envelope.rcpt_tos)) + "\n")
        # The message file appears last and whole: the tests wait for it.
        os.rename(base + ".tmp", base + ".eml")
        return "250 Message accepted for delivery"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("port", type=int)
    p.add_argument("folder")
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--require-auth", action="store_true")
    a = p.parse_args()

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and a.user
              and auth_data.login == a.user.encode() and auth_data.password == a.password.encode())
        return AuthResult(success=bool(ok), handled=False)

    store = Store(a.folder)

    def factory():
        return SMTP(store, hostname="mail.test", decode_data=False, enable_SMTPUTF8=False,
                    authenticator=authenticator, auth_required=a.require_auth,
                    auth_require_tls=False)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", a.port))
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
