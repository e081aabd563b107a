"""Keys, the pointer-placed attractor marker, and a storm of odd input that must not
disturb a running program."""

import random

import harness
from harness import check, wait_until

# Keys that only request a redraw (the space bar also toggles trails in the n-body program).
HARMLESS_KEYS = ["Q", "space", "a", "z", "1", "Return", "Tab", "BackSpace", "Delete", "F1",
                 "Left", "shift+q", "ctrl+q"]


def quit_cleanly(ctx, program, window, key="q", min_timings=1):
    window.key(key)
    check(program.wait_exit() == 0, "status %s after %s" % (program.proc.returncode, key))
    harness.check_console(program.stdout(), ctx.name, min_timings)
    check(program.stderr() == "", "stderr: %r" % program.stderr())


def non_white(shot):
    return shot.count(lambda p: p != harness.WHITE)


def check_trails(window):
    """Space stops the clearing, so earlier positions stay; a second space restores it."""
    cleared = window.next_frames(3)
    window.key("space")
    trails = window.next_frames(15)
    window.key("space")
    restored = window.next_frames(3)
    a, b, c = non_white(cleared), non_white(trails), non_white(restored)
    newly = sum(1 for x, y, p in cleared.pixels()
                if p == harness.WHITE and trails.pixel(x, y) != harness.WHITE)
    check(newly > a // 5, "trails coloured only %d white pixels (%d coloured before)" % (newly, a))
    check(c < b * 0.9, "clearing not restored: %d coloured pixels with trails, %d after"
          % (b, c))
    print("trails: %d coloured pixels cleared, %d with trails (%d newly), %d cleared again"
          % (a, b, newly, c))


def case_keys(ctx):
    program = ctx.start()
    window = program.window(ctx.profile["title"])
    program.wait_timing_lines(1)
    if not ctx.profile["swarm"]:
        check_trails(window)
    for key in HARMLESS_KEYS:
        window.key(key)
        check(program.alive(), "the program ended after key %s" % key)
    # Still stepping: a further timing line comes after the keys.
    seen = len(program.timing_lines())
    program.wait_timing_lines(seen + 1)
    quit_cleanly(ctx, program, window, "q")


def case_pointer(ctx):
    program = ctx.start()
    window = program.window(ctx.profile["title"])
    name = ctx.name
    harness.wait_marker(window, name, (249.5, 249.5))
    # The n-body program's disks would tint its faint marker, so its points stay in the
    # empty top-left quarter.
    first = (100, 400) if ctx.profile["swarm"] else (100, 100)
    steps = [
        ("left click", [("click", first, 1)], first),
        ("right press, drag and release", [("move", (80, 160)), ("down", 3), ("move", (180, 60)),
                                           ("up", 3)], (80, 160)),
        ("middle click", [("click", (160, 140), 2)], (160, 140)),
        ("left drag", [("move", (60, 60)), ("down", 1), ("move", (100, 90)), ("move", (140, 100)),
                       ("up", 1)], (140, 100)),
        ("moving with no button held", [("move", (200, 30))], (140, 100)),
    ]
    for what, actions, expected in steps:
        for action in actions:
            if action[0] == "click":
                window.click(*action[1], button=action[2])
            elif action[0] == "move":
                window.move(*action[1])
            elif action[0] == "down":
                window.down(action[1])
            else:
                window.up(action[1])
        target = (expected[0] - 0.5, expected[1] - 0.5)
        try:
            harness.wait_marker(window, name, target)
            # It must stay there, not just pass through.
            window.next_frames(3)
            harness.wait_marker(window, name, target, timeout=0)
        except harness.TestFailure as e:
            raise harness.TestFailure("%s: %s" % (what, e))
    quit_cleanly(ctx, program, window, "Escape", min_timings=0)


def case_storm(ctx):
    program = ctx.start()
    window = program.window(ctx.profile["title"])
    program.wait_timing_lines(1)
    rng = random.Random(7)
    keys = (HARMLESS_KEYS + list("abcdefghijklmnoprstuvwxyz0123456789") +
            ["F%d" % i for i in range(1, 13)] +
            ["Up", "Down", "Right", "Home", "Insert", "Prior", "Next", "KP_Enter", "shift+Q"])
    w, h = 500, 500
    # Every X button, wheel steps included, inside the window and beyond its edges; drags
    # that leave the window; the window shrunk to one pixel and brought back.
    for button in range(1, 10):
        window.click(rng.randrange(w), rng.randrange(h), button)
        window.click(rng.choice([-9, w + 40, 900]), rng.choice([-9, h + 40, 700]), button)
    for _ in range(3):
        window.click(250, 250, 4)
        window.click(250, 250, 5)
    for button in (1, 3, 2):
        window.move(rng.randrange(w), rng.randrange(h))
        window.down(button)
        for x, y in [(-9, -9), (w + 100, h // 2), (w // 2, h + 200), (rng.randrange(w), 5)]:
            window.move(x, y)
        window.move(w + 30, -5)
        window.up(button)
    window.resize(1, 1)
    window.click(0, 0, 1)
    window.key("a", "space")
    window.resize(500, 500)
    storm_keys = [rng.choice(keys) for _ in range(60)]
    for i in range(0, len(storm_keys), 10):
        window.key(*storm_keys[i:i + 10])
        window.click(rng.randrange(w), rng.randrange(h), rng.randrange(1, 10))
        check(program.alive(), "the program ended during the storm (status %s)"
              % program.proc.returncode)
    seen = len(program.timing_lines())
    program.wait_timing_lines(seen + 1)
    quit_cleanly(ctx, program, window, "q")


if __name__ == "__main__":
    harness.main({"keys": case_keys, "pointer": case_pointer, "storm": case_storm})
