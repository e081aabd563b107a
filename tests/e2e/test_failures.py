"""How each program fails: OpenGL below 2.0, failed checked runtime calls at start-up, in
the middle of a run and on the quit path, a failed device allocation, and (in a CUDA build
on a machine without a GPU) the missing driver."""

import os
import re
import shutil
import subprocess
import sys

import harness
from harness import check

GL_MISSING = "ERROR: Support for necessary OpenGL extensions missing."
REPORT = re.compile(r"^cudaSafeCall\(\) Runtime API error in file <([^>]+)>, line (\d+) : (.+)\.\n$")


def call_line(ctx, path, call):
    """The line of `path` that holds the checked call, read from the source."""
    with open(os.path.join(ctx.source_dir, path)) as f:
        lines = [i for i, l in enumerate(f, 1) if "cudaSafeCall(%s" % call in l]
    check(len(lines) == 1, "%s: expected one checked %s, found lines %r" % (path, call, lines))
    return lines[0]


def check_report(ctx, stderr, path, call, description):
    """stderr is one report naming a line of `path` that holds the checked `call`."""
    m = REPORT.match(stderr)
    check(m is not None, "stderr is not one report line: %r" % stderr)
    check(m.group(1) == path, "report names file %s, not %s" % (m.group(1), path))
    with open(os.path.join(ctx.source_dir, path)) as f:
        source = f.read().split("\n")
    line = int(m.group(2))
    check(1 <= line <= len(source) and "cudaSafeCall(%s" % call in source[line - 1],
          "line %d of %s is not the checked %s: %r" % (line, path, call,
                                                       source[line - 1] if line <= len(source) else None))
    check(m.group(3) == description, "description %r, not %r" % (m.group(3), description))


def case_gl_too_old(ctx):
    env = {"MESA_GL_VERSION_OVERRIDE": "1.5"}
    # glxinfo (mesa-utils) is optional: it shows that the override really lowers the level.
    info = shutil.which("glxinfo") and subprocess.run(
        ["glxinfo"], env=ctx.display.env(env), stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL, timeout=30)
    if info and info.returncode == 0:
        m = re.search(r"OpenGL version string: (\d+)\.(\d+)", info.stdout.decode())
        check(m and (int(m.group(1)), int(m.group(2))) < (2, 0),
              "the override did not lower OpenGL below 2.0: %r" % (m and m.group(0)))
    program = ctx.start(env=env)
    status = program.wait_exit()
    check(program.stderr() == GL_MISSING, "stderr %r" % program.stderr())
    check(program.stdout() == "", "stdout %r" % program.stdout())
    check(status == 0, "status %d" % status)


def case_register(ctx):
    program = ctx.start(env={"HOSTGPU_FAIL": "register"})
    status = program.wait_exit()
    line = call_line(ctx, "common/vbo.cpp", "cudaGLRegisterBufferObject")
    expected = ("cudaSafeCall() Runtime API error in file <common/vbo.cpp>, line %d : "
                "invalid argument.\n" % line)
    check(program.stderr() == expected, "stderr %r, not %r" % (program.stderr(), expected))
    check(program.stdout() == "", "stdout %r" % program.stdout())
    check(status == 255, "status %d" % status)


MID_RUN = {
    "map": ("cudaGLMapBufferObject", "mapping of buffer object failed"),
    "unmap": ("cudaGLUnmapBufferObject", "unmapping of buffer object failed"),
}


def mid_run(call):
    def case(ctx):
        api, description = MID_RUN[call]
        program = ctx.start(env={"HOSTGPU_FAIL": "%s:20" % call})
        status = program.wait_exit(120)
        check_report(ctx, program.stderr(), ctx.profile["main"], api, description)
        check(status == 255, "status %d" % status)
        out = program.stdout()
        check(out.startswith("alokacja... \n"), "stdout %r" % out[:100])
        check("dealokacja" not in out, "'dealokacja' printed after a failed %s" % api)
        if not ctx.profile["swarm"]:
            # The 20th step announces itself before its map.
            steps = out.count("step...\n")
            check(steps == 20, "%d steps before the failure, not 20" % steps)
    return case


def case_unregister(ctx):
    # The first failure is posVbo's, the second colorVbo's; either way nothing is freed.
    for plan in ("unregister", "unregister:2"):
        program = ctx.start(env={"HOSTGPU_FAIL": plan})
        window = program.window(ctx.profile["title"])
        window.key("q")
        status = program.wait_exit()
        try:
            check_report(ctx, program.stderr(), "common/vbo.cpp", "cudaGLUnregisterBufferObject",
                         "invalid resource handle")
            check(status == 255, "status %d" % status)
            check(program.stdout().startswith("alokacja... \n"), "stdout %r" % program.stdout())
            check("dealokacja" not in program.stdout(), "'dealokacja' printed")
        except harness.TestFailure as e:
            raise harness.TestFailure("HOSTGPU_FAIL=%s: %s" % (plan, e))


def case_malloc(ctx):
    program = ctx.start(env={"HOSTGPU_FAIL": "malloc"})
    status = program.wait_exit()
    err = program.stderr()
    check(status > 0, "status %d: a failed device allocation must end the program with an "
          "error status, not a signal or success" % status)
    check(err.endswith("\n") and err.count("\n") == 1 and len(err.strip()) > 10,
          "stderr is not one clear line: %r" % err)
    check("dealokacja" not in program.stdout(), "'dealokacja' printed")


def gpu_present():
    try:
        listed = subprocess.run(["nvidia-smi", "-L"], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return listed.returncode == 0 and "GPU" in listed.stdout.decode()


# Texts of the CUDA runtime when it finds no usable driver.
NO_DRIVER = {"CUDA driver version is insufficient for CUDA runtime version",
             "no CUDA-capable device is detected"}


def case_driver_missing(ctx):
    if gpu_present():
        print("SKIP: a GPU is present")
        sys.exit(harness.SKIP)
    program = ctx.start()
    status = program.wait_exit()
    line = call_line(ctx, "common/vbo.cpp", "cudaGLRegisterBufferObject")
    m = REPORT.match(program.stderr())
    check(m is not None, "stderr is not one report line: %r" % program.stderr())
    check(m.group(1) == "common/vbo.cpp" and int(m.group(2)) == line,
          "report at %s:%s, not at the registration in common/vbo.cpp:%d"
          % (m.group(1), m.group(2), line))
    check(m.group(3) in NO_DRIVER, "description %r" % m.group(3))
    check(program.stdout() == "", "stdout %r" % program.stdout())
    check(status == 255, "status %d" % status)


if __name__ == "__main__":
    harness.main({"gl-too-old": case_gl_too_old, "register": case_register,
                  "map": mid_run("map"), "unmap": mid_run("unmap"),
                  "unregister": case_unregister, "malloc": case_malloc,
                  "driver-missing": case_driver_missing})
