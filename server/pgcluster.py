"""A throw-away PostgreSQL cluster for the server's tests and load test.

`initdb` in a temporary folder, run as an unprivileged user (`nobody` when
we are root, else ourselves), listening on a free loopback port and a socket
in that folder only, with trust authentication for the user `zs`. Stopped
and removed at `stop()` or at exit. A cluster that cannot be started raises
`ClusterError` with the server's log: a PostgreSQL test then fails, it is
never skipped.

    python3 server/pgcluster.py    # starts one, prints its URL, stops on Ctrl-C
"""

import atexit
import glob
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile

USER = "zs"
# Tests do not survive a crash of the machine; the load test does sync.
FAST = ("-c fsync=off -c synchronous_commit=off -c full_page_writes=off")


class ClusterError(RuntimeError):
    pass


def pg_bin():
    """The folder of initdb and pg_ctl: $ZEPHRANT_PG_BIN, else Debian's newest."""
    given = os.environ.get("ZEPHRANT_PG_BIN")
    if given:
        if not os.access(os.path.join(given, "initdb"), os.X_OK):
            raise ClusterError(f"ZEPHRANT_PG_BIN={given}: no initdb there")
        return given
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"),
                   key=lambda p: int(p.split("/")[4]) if p.split("/")[4].isdigit() else 0)
    if not found:
        raise ClusterError("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb;"
                           " scripts/setup.sh installs it)")
    return os.path.dirname(found[-1])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Cluster:
    def __init__(self, durable=False):
        self.durable = durable
        self.folder = None
        self.port = None
        self._as = {}

    @property
    def url(self):
        return f"postgresql://{USER}@127.0.0.1:{self.port}/postgres"

    def database_url(self, name):
        return f"postgresql://{USER}@127.0.0.1:{self.port}/{name}"

    def _run(self, *args, check=True):
        run = subprocess.run([os.path.join(self.bin, args[0]), *args[1:]], cwd=self.folder,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, **self._as)
        if check and run.returncode != 0:
            raise ClusterError(f"{args[0]} failed ({run.returncode}): {run.stdout.strip()}"
                               + self._log())
        return run

    def _log(self):
        try:
            with open(os.path.join(self.folder, "pg.log")) as f:
                return "\n--- server log ---\n" + f.read()[-4000:]
        except OSError:
            return ""

    def start(self):
        self.bin = pg_bin()
        self.folder = tempfile.mkdtemp(prefix="zephrant-pg-")
        atexit.register(self.stop)
        if os.geteuid() == 0:
            # PostgreSQL refuses to run as root.
            nobody = pwd.getpwnam("nobody")
            os.chown(self.folder, nobody.pw_uid, nobody.pw_gid)
            self._as = {"user": nobody.pw_uid, "group": nobody.pw_gid, "extra_groups": []}
        self._run("initdb", "-D", "data", "-A", "trust", "-U", USER, "-E", "UTF8",
                  "--no-sync", "--no-instructions")
        options = "" if self.durable else FAST
        for _ in range(5):              # another program may take the port meanwhile
            self.port = free_port()
            run = self._run("pg_ctl", "-D", "data", "-l", "pg.log", "-w", "-t", "60", "-o",
                            f"-p {self.port} -k {self.folder} -c listen_addresses=127.0.0.1"
                            f" -c max_connections=200 {options}", "start", check=False)
            if run.returncode == 0:
                return self
        raise ClusterError(f"PostgreSQL did not start: {run.stdout.strip()}" + self._log())

    def create_database(self, name):
        """A new empty database; its URL."""
        import psycopg
        with psycopg.connect(self.url, autocommit=True) as db:
            db.execute(f'CREATE DATABASE "{name}"')
        return self.database_url(name)

    def stop(self):
        if not self.folder:
            return
        if os.path.exists(os.path.join(self.folder, "data", "postmaster.pid")):
            self._run("pg_ctl", "-D", "data", "-w", "-m", "immediate", "stop", check=False)
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder = None


_shared = None


def shared():
    """One cluster for the whole test run, started on first use."""
    global _shared
    if _shared is None:
        _shared = Cluster().start()
    return _shared


if __name__ == "__main__":
    cluster = Cluster(durable=True).start()
    print(cluster.url, flush=True)
    try:
        signal.pause()
    except KeyboardInterrupt:
        pass
    finally:
        cluster.stop()
