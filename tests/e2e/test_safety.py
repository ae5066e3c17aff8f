"""The installer's promise under Wine when runs collide or die: two runs at
once, runs killed at any moment, and a quiet install over the loaded filter,
which finishes at the restart. After each, every class list that names Kestrune or
Morvellin has that driver's service and complete image, and the other
drivers' entries are where they were (lib/safe_state.py)."""
import time

from lib.safe_state import assert_safe, images_of, installed, read_state, uninstalled
from test_check import run_check
from test_install import KESTRUNE_SYS, SEEDED, seed_class_keys
from test_window import install_with_devices

WAITING = 'Another Kestrune installation or removal is running, waiting up to 60 s'
ENDED = 'The other Kestrune installation or removal has ended'

# The first run's switch, the second's, and how many milliseconds apart
# they are started.
ROUNDS = [('/I', '/U', 0), ('/I', '/U', 5), ('/I', '/U', 20), ('/I', '/U', 50),
          ('/U', '/I', 0), ('/U', '/I', 5), ('/U', '/I', 20), ('/U', '/I', 50),
          ('/I', '/I', 0), ('/I', '/I', 10)]


def settled_lines(trace, start):
    """The debug-stream lines from `start` on, once no more arrive."""
    count = -1
    while count != len(trace.lines('D')):
        count = len(trace.lines('D'))
        time.sleep(0.2)
    return trace.lines('D')[start:]


def runs_of(lines):
    """The procedure lines of each process, by its id, and whether any waited."""
    by_process, order = {}, []
    for line in lines:
        if line.text in ('QuietMode', WAITING, ENDED):
            continue
        by_process.setdefault(line.meta[0], []).append(line)
        order.append(line.meta[0])
    return by_process, order


def test_two_runs_at_once_change_the_machine_one_after_the_other(machine, build):
    seed_class_keys(machine)
    images = images_of(build)
    trace = machine.start_trace(channels='D', meta=True)
    waits = 0
    for first, second, apart in ROUNDS:
        context = '%s then %s %d ms later' % (first, second, apart)
        start = len(trace.lines('D'))
        one = machine.spawn(build.kstins, first, '/Q')
        time.sleep(apart / 1000)
        other = machine.spawn(build.kstins, second, '/Q')
        assert (one.wait(90), other.wait(90)) == (0, 0), context
        lines = settled_lines(trace, start)
        waits += sum(1 for line in lines if line.text == WAITING)
        # One procedure's lines, then the other's: never interleaved.
        _, order = runs_of(lines)
        changes = sum(1 for a, b in zip(order, order[1:]) if a != b)
        assert len(set(order)) == 2 and changes == 1, (context, [l.text for l in lines])
        state = read_state(machine)
        assert_safe(state, images, SEEDED, context)
        assert installed(state, images) or uninstalled(state), (context, state)
    print('  %d of %d rounds had a run wait for the other' % (waits, len(ROUNDS)), flush=True)
    assert waits > 0, 'the runs never met: nothing was tested'


LOCK = 'Global\\KestruneInstallTools'


def hold_machine(machine, seconds):
    """Another run holding the machine for `seconds` (KstProbe hold-mutex);
    returns once it holds it."""
    holder = machine.spawn(machine.build.kstprobe, 'hold-mutex', LOCK, int(seconds * 1000))
    deadline = time.monotonic() + 20
    while 'HELD' not in holder.output():
        assert holder.running() and time.monotonic() < deadline, holder.output()
        time.sleep(0.02)
    return holder


def test_a_run_waits_for_the_machine_and_the_check_reads_anyway(machine, build):
    seed_class_keys(machine)
    images = images_of(build)
    trace = machine.start_trace(channels='W')
    holder = hold_machine(machine, 3)
    started = time.monotonic()
    assert machine.run(build.kstins, '/I', '/Q', timeout=90).rc == 0
    waited = time.monotonic() - started
    lines = trace.texts('W')
    assert lines[:3] == ['QuietMode', WAITING, ENDED], lines
    assert 2 < waited < 30, waited
    assert holder.wait(10) == 0
    assert installed(read_state(machine), images)

    # Held past the check's ten seconds: it reads all the same, and says so.
    holder = hold_machine(machine, 14)
    started = time.monotonic()
    checked = run_check(machine)
    assert 9 < time.monotonic() - started < 14
    assert ('WARNING another installation or removal is running; this state may be changing'
            in checked.lines), checked.lines
    assert checked.code == 3010, checked
    holder.kill()


# When each run is killed, in seconds after its first trace line; the
# uninstall pauses two seconds between its drivers. The install's delays
# grow geometrically, so that they fall at different steps however fast the
# machine runs it (a loaded machine takes many times longer).
INSTALL_KILLS = (0, 0.002, 0.005, 0.01, 0.02, 0.04, 0.08, 0.16, 0.32, 0.64)
UNINSTALL_KILLS = (0, 0.002, 0.004, 0.006, 0.009, 0.013, 0.02, 1.0, 2.0, 2.008)


def kill_after(machine, build, trace, switch, seconds):
    """Starts KstIns.exe switch /Q and kills it (SIGKILL) `seconds` after its
    first trace line; the number of lines it wrote."""
    start = len(trace.lines('D'))
    program = machine.spawn(build.kstins, switch, '/Q')
    deadline = time.monotonic() + 20
    while len(trace.lines('D')) == start and program.running() and time.monotonic() < deadline:
        time.sleep(0.001)
    time.sleep(seconds)
    program.kill()
    return len(settled_lines(trace, start))


def test_killed_at_any_moment_the_machine_is_safe_and_the_next_run_completes(machine, build):
    seed_class_keys(machine)
    images = images_of(build)
    trace = machine.start_trace(channels='D')
    written = {'/I': [], '/U': []}
    for install_kill, uninstall_kill in zip(INSTALL_KILLS, UNINSTALL_KILLS):
        for switch, seconds, done in (('/I', install_kill, lambda s: installed(s, images)),
                                      ('/U', uninstall_kill, uninstalled)):
            context = '%s killed %.3f s after its first line' % (switch, seconds)
            written[switch].append(kill_after(machine, build, trace, switch, seconds))
            assert_safe(read_state(machine), images, SEEDED, context)
            assert machine.run(build.kstins, switch, '/Q', timeout=90).rc == 0, context
            state = read_state(machine)
            assert_safe(state, images, SEEDED, context + ', then run again')
            assert done(state), (context + ', then run again', state)
    for switch, counts in written.items():
        print('  %s killed after %s trace lines' % (switch, counts), flush=True)
        assert len(set(counts)) >= 3, 'the kills bunched at %s' % counts


def test_quiet_install_over_the_loaded_filter_ends_by_itself_without_a_box(machine, build):
    seed_class_keys(machine)
    images = images_of(build)
    install_with_devices(machine)  # the restart loads the filter from its image
    trace = machine.start_trace(channels='W')
    result = machine.run(build.kstins, '/I', '/Q', timeout=30)
    assert result.rc == 0, result
    lines = trace.texts('W')
    assert 'Copyfile: ' + KESTRUNE_SYS + ' in use, replaced at restart' in lines, lines
    assert lines[-1] == 'Success to RegLowerFilter Morvellin cdvdrom!', lines
    assert not machine.shown('SCSI SRB Command Filters')
    state = read_state(machine)
    assert_safe(state, images, SEEDED, 'after the copy over the loaded filter')
    assert installed(state, images), state
    assert run_check(machine).code == 3010, 'the new image waits for the restart'
    machine.restart(running=('Kestrune',))
    assert_safe(read_state(machine), images, SEEDED, 'after the restart')
    assert run_check(machine).code == 0
