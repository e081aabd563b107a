"""The window each program opens: title, place, size, white background, the fixed -1..1 view
when resized, and command-line arguments that GLUT does not know."""

import harness
from harness import check, near, wait_until

# Where the three disks of the n-body program start, in view units.
DISKS = [(0.5, 0.5), (-0.5, -0.5), (0.5, -0.5)]
BODY_OVER_WHITE = (207, 207, 214)


def to_pixel(view, size):
    return ((view[0] + 1) / 2 * size[0], (1 - view[1]) / 2 * size[1])


def check_geometry(ctx, window):
    info = window.info()
    check(info["title"] == ctx.profile["title"], "title %r" % info["title"])
    check(info["position"] == ctx.profile["position"], "position %r" % (info["position"],))
    check(info["size"] == (500, 500), "size %r" % (info["size"],))


def check_background(ctx, window, size=(500, 500)):
    """The clear colour is white and every frame starts from it."""
    width, height = size
    if ctx.profile["swarm"]:
        # The swarm falls away from the top edge; no particle colour is white, so a band
        # of white rows means the frame was cleared to white.
        band = (0, 0, width, 4)
        wait_until(lambda: window.screenshot().count(harness.is_white, band) == width * 4, 90,
                   "a white band along the top edge")
    else:
        # The top-left corner is empty at the start (once the first frame is up).
        box = (0, 0, width * 3 // 10, height * 3 // 10)
        wait_until(lambda: window.screenshot().count(harness.is_white, box) == box[2] * box[3],
                   30, "a white top-left corner")


def check_disks(window, size):
    """Each disk shows bodies of their colour over white around its centre."""
    try:
        wait_until(lambda: disks_shown(window.screenshot(), size) is None, 30, "the disks")
    except harness.TestFailure:
        disks_shown(window.screenshot(), size, fail=True)


def disks_shown(shot, size, fail=False):
    for disk in DISKS:
        cx, cy = to_pixel(disk, size)
        rx, ry = 0.25 / 2 * size[0], 0.25 / 2 * size[1]
        box = (int(cx - rx), int(cy - ry), int(cx + rx), int(cy + ry))
        bodies = shot.count(lambda p: near(p, BODY_OVER_WHITE, 3), box)
        if bodies < 50:
            check(not fail, "only %d body-coloured pixels around disk %r in a %dx%d window"
                  % (bodies, disk, size[0], size[1]))
            return disk
    return None


def case_window(ctx):
    program = ctx.start()
    window = program.window(ctx.profile["title"])
    check_geometry(ctx, window)
    if not ctx.profile["swarm"]:
        # Early, before the disks fall together and fling bodies about.
        check_background(ctx, window)
        check_disks(window, (500, 500))
    harness.wait_marker(window, ctx.name, (249.5, 249.5))
    if ctx.profile["swarm"]:
        check_background(ctx, window)
    program.wait_timing_lines(1)
    window.key("Escape")
    check(program.wait_exit() == 0, "status %s after Escape" % program.proc.returncode)
    harness.check_console(program.stdout(), ctx.name)
    check(program.stderr() == "", "stderr: %r" % program.stderr())


def case_unknown_args(ctx):
    program = ctx.start(["--frobnicate", "7", "-zz"])
    window = program.window(ctx.profile["title"])
    check_geometry(ctx, window)
    harness.wait_marker(window, ctx.name, (249.5, 249.5))
    program.wait_timing_lines(1)
    window.key("q")
    check(program.wait_exit() == 0, "status %s after q" % program.proc.returncode)
    harness.check_console(program.stdout(), ctx.name)
    check(program.stderr() == "", "stderr: %r" % program.stderr())


def case_resize(ctx):
    program = ctx.start()
    window = program.window(ctx.profile["title"])
    # Both ways: wider than tall, and back; the square -1..1 always fills the window.
    for size in [(800, 400), (300, 450), (500, 500)]:
        window.resize(*size)
        harness.wait_marker(window, ctx.name, (size[0] / 2 - 0.5, size[1] / 2 - 0.5))
        if ctx.profile["swarm"]:
            check_background(ctx, window, size)
        elif size == (800, 400):
            check_disks(window, size)
    window.key("q")
    check(program.wait_exit() == 0, "status %s after q" % program.proc.returncode)
    check(program.stdout().endswith("dealokacja... \n"), "no 'dealokacja... ' at the end")


if __name__ == "__main__":
    harness.main({"window": case_window, "unknown-args": case_unknown_args,
                  "resize": case_resize})
