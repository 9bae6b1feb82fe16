# A mail sink for the tests: an SMTP server on 127.0.0.1 that keeps every
# message it receives in the folder given, as mN.eml (the bytes received)
# and mN.env (the envelope sender, then one recipient a line). Writes its
# port to the file "port" there when ready; runs until it is ended by a
# signal.
import os
import socket
import sys
import threading

from aiosmtpd.controller import Controller

folder = sys.argv[1]


class Keep:
    async def handle_DATA(self, server, session, envelope):
        n = len([x for x in os.listdir(folder) if x.endswith(".eml")])
        base = os.path.join(folder, "m%d" % n)
        with open(base + ".env", "w") as f:
            f.write("\n".join([envelope.mail_from] + list(envelope.rcpt_tos)) + "\n")
        # Written before the answer, so the test finds it complete.
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        return "250 OK"


probe = socket.socket()
probe.bind(("127.0.0.1", 0))
port = probe.getsockname()[1]
probe.close()
controller = Controller(Keep(), hostname="127.0.0.1", port=port)
controller.start()
with open(os.path.join(folder, "port.part"), "w") as f:
    f.write(str(port))
os.rename(os.path.join(folder, "port.part"), os.path.join(folder, "port"))
threading.Event().wait()
