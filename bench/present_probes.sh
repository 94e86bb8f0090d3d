# shellcheck shell=sh
# Sourced by the whole-program benchmarks: perf uprobes on the calls that
# present a frame, so that `perf stat $events` counts frames.
#
# add_present_probes GROUP: glXSwapBuffers in libGLX.so.0 or in the older
# libGL.so.1, eglSwapBuffers in libEGL.so.1, and the image puts of a program
# that presents its own pixels (XShmPutImage, XPutImage), whichever exist.
# A program may reach several (Mesa's software swap puts an image): the
# caller takes the largest count. A frame may be put in bands, one request
# each: only puts at the window's top row count (the destination y, the
# eighth argument, on the stack above the return address at entry).
# Appends the probes' names to $probe (to remove at the end) and their
# options to $events. Needs perf and root; without them adds nothing.
add_present_probes() {
    command -v perf >/dev/null && [ "$(id -u)" = 0 ] || return 0
    for entry in libGLX.so.0:glXSwapBuffers libGL.so.1:glXSwapBuffers libEGL.so.1:eglSwapBuffers \
        libXext.so.6:XShmPutImage libX11.so.6:XPutImage; do
        lib=${entry%%:*} func=${entry#*:}
        libpath=$(ldconfig -p | awk -v lib="$lib" '$1 == lib { print $NF; exit }')
        event="$1:swap_$(echo "$lib" | tr -c 'a-zA-Z0-9\n' _)"
        case $func in
        *PutImage) definition="$event=$func dsty=+16(%sp):s32" filter="--filter dsty==0" ;;
        *) definition="$event=$func" filter="" ;;
        esac
        if [ -n "$libpath" ] && perf probe -q -x "$libpath" "$definition" 2>/dev/null; then
            probe="$probe $event"
            events="$events -e $event $filter"
        fi
    done
}
