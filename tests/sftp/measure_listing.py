"""Times one listing of a 10,000-name folder over SFTP, whole processes side by
side: our session (sftp_list_probe) against OpenSSH's `sftp -b`, both logging in
with the same key to the same server on loopback. Run by hand:

    /usr/bin/python3 tests/sftp/measure_listing.py PROBE [RUNS] [SSHD]

PROBE is build/tests/sftp/sftp_list_probe. The server is the asyncssh test
server, or with SSHD (a path to OpenSSH's sshd) an sshd with a configuration of
its own, serving internal-sftp; run as root, that sshd runs as "nobody" (with
PAM, which lets it log nobody in). Prints the median wall time of each and their
ratio.
"""

import os
import pwd
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, '..', 'fixtures', 'sftp_server.py')
NAMES = 10_000


def timed(args, env):
    start = time.perf_counter()
    result = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            check=False)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(f'{args[0]} failed: {result.stderr.decode(errors="replace")}')
    return elapsed, result.stdout


def start_sshd(sshd, work, state):
    """OpenSSH's sshd on a free port; returns the process, its port and user."""
    import socket
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        port = s.getsockname()[1]
    subprocess.run(['ssh-keygen', '-q', '-t', 'ed25519', '-N', '', '-f', state + '/host_key'],
                   check=True)
    root = os.getuid() == 0
    user = 'nobody' if root else pwd.getpwuid(os.getuid()).pw_name
    with open(state + '/sshd_config', 'w') as f:
        f.write(f'Port {port}\nListenAddress 127.0.0.1\nHostKey {state}/host_key\n'
                f'PidFile none\nAuthorizedKeysFile {state}/authorized_keys\nStrictModes no\n'
                f'UsePAM {"yes" if root else "no"}\nPasswordAuthentication no\n'
                'KbdInteractiveAuthentication no\nSubsystem sftp internal-sftp\n'
                'ForceCommand internal-sftp\n')
    command = [sshd, '-D', '-e', '-f', state + '/sshd_config']
    if root:
        for dirpath, _, files in os.walk(work):
            for name in [dirpath] + [os.path.join(dirpath, n) for n in files]:
                os.chown(name, pwd.getpwnam('nobody').pw_uid, -1)
        os.chmod(work, 0o755)
        command = ['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups'] + command
    server = subprocess.Popen(command, stderr=subprocess.PIPE)
    for line in server.stderr:
        if b'listening' in line:
            return server, str(port), user
    sys.exit('sshd did not start')


def main():
    probe = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    sshd = sys.argv[3] if len(sys.argv) > 3 else None
    work = tempfile.mkdtemp(prefix='ornbrook-sftp-measure-')
    server = None
    try:
        home, root, state = (os.path.join(work, d) for d in ('home', 'root', 'state'))
        for d in (home + '/.ssh', root + '/big', state):
            os.makedirs(d)
        key = home + '/.ssh/id_ed25519'
        subprocess.run(['ssh-keygen', '-q', '-t', 'ed25519', '-N', '', '-f', key], check=True)
        shutil.copy(key + '.pub', state + '/authorized_keys')
        for i in range(NAMES):
            open(f'{root}/big/file-{i:05d}.dat', 'w').close()
        if sshd:
            server, port, user = start_sshd(sshd, work, state)
            folder = root + '/big'
        else:
            server = subprocess.Popen(
                ['/usr/bin/python3', SERVER, root, state, 'watcher', 'unused'],
                stdout=subprocess.PIPE)
            port = server.stdout.readline().decode().strip()
            user, folder = 'watcher', '/big'
        with open(state + '/host_key.pub') as f:
            line = f'[127.0.0.1]:{port} {f.read()}'
        with open(home + '/.ssh/known_hosts', 'w') as f:
            f.write(line)
        env = dict(os.environ, HOME=home, USER=user)
        env.pop('SSH_AUTH_SOCK', None)
        batch = work + '/batch'
        with open(batch, 'w') as f:
            f.write(f'ls -l {folder}\n')
        ours = [probe, '127.0.0.1', port, user, folder, work + '/knownhosts.dat']
        theirs = ['sftp', '-q', '-b', batch, '-i', key, '-P', port,
                  '-o', 'UserKnownHostsFile=' + home + '/.ssh/known_hosts',
                  '-o', 'BatchMode=yes', f'{user}@127.0.0.1']
        # A listing each first, to check both see every name and to warm caches.
        _, out = timed(ours, env)
        assert int(out) == NAMES, out
        _, out = timed(theirs, env)
        assert out.count(b'file-') == NAMES, len(out)
        times = {'ours': [], 'sftp -b': []}
        for _ in range(runs):
            times['ours'].append(timed(ours, env)[0])
            times['sftp -b'].append(timed(theirs, env)[0])
        medians = {k: statistics.median(v) for k, v in times.items()}
        for k, v in medians.items():
            print(f'{k:8s} median {v * 1000:7.1f} ms over {runs} runs '
                  f'(min {min(times[k]) * 1000:.1f}, max {max(times[k]) * 1000:.1f})')
        print(f'ratio ours / sftp -b: {medians["ours"] / medians["sftp -b"]:.2f}x')
    finally:
        if server:
            server.terminate()
            server.wait()
        shutil.rmtree(work, ignore_errors=True)


main()
