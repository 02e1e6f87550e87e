#pragma once
// The vdir layer reads and writes files. The iCalendar layer below it must
// stay free of them, so only targets that link tallowick_vdir (which defines
// TALLOWICK_VDIR_LAYER for them) may include its headers; anywhere else this
// stops the build.
#ifndef TALLOWICK_VDIR_LAYER
#error "a vdir header included outside the layers above it: the iCalendar layer reads no file"
#endif
