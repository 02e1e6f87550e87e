# Fails when a source of the iCalendar layer (tests aside) reaches for files,
# the clock, the environment or threads: those come in as arguments.
file(GLOB sources "${LAYER}/*.h" "${LAYER}/*.cpp")
set(forbidden
  "#include <(fcntl|unistd|dirent|pthread|stdio)\\.h>"
  "#include <sys/"
  "#include <(fstream|filesystem|thread|mutex|future|atomic|condition_variable)>"
  "#include \"tallowick/store/vdir/"
  "#include \"tallowick/zones/system_zones\\.h\""
  "clock::now|getenv|std::time\\(|fopen|/proc/")
set(found "")
foreach(source IN LISTS sources)
  if(source MATCHES "_test\\.cpp$|test_support\\.h$|layer_check\\.cpp$")
    continue()
  endif()
  file(STRINGS "${source}" lines)
  foreach(line IN LISTS lines)
    foreach(pattern IN LISTS forbidden)
      if(line MATCHES "${pattern}")
        string(APPEND found "\n${source}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "the iCalendar layer must take files, clocks and threads as arguments:${found}")
endif()
