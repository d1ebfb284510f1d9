# Install-time step after the gate is installed (see gate/CMakeLists.txt):
# gives the gate, `gate`, the group `gate_group` and mode 4750. To the real
# root, the system group is created first when missing; with DESTDIR set,
# nothing on the machine changes and the staged gate keeps the installer's
# group unless `gate_group` exists already.
execute_process(COMMAND getent group "${gate_group}" OUTPUT_QUIET ERROR_QUIET
  RESULT_VARIABLE missing)
if(missing AND "$ENV{DESTDIR}" STREQUAL "")
  find_program(addgroup_program addgroup PATHS /usr/sbin /sbin NO_CACHE)
  find_program(groupadd_program groupadd PATHS /usr/sbin /sbin NO_CACHE)
  if(addgroup_program)
    set(create ${addgroup_program} --system "${gate_group}")
  elseif(groupadd_program)
    set(create ${groupadd_program} --system "${gate_group}")
  else()
    message(FATAL_ERROR "Neither addgroup nor groupadd: cannot create the group ${gate_group}")
  endif()
  message(STATUS "Creating the system group ${gate_group}")
  execute_process(COMMAND ${create} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Cannot create the group ${gate_group}")
  endif()
  set(missing 0)
endif()
if(NOT missing)
  # chgrp clears the set-uid bit, so the mode comes after it.
  message(STATUS "Giving ${gate} the group ${gate_group}, mode 4750")
  execute_process(COMMAND chgrp "${gate_group}" "${gate}" RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND chmod 4750 "${gate}" RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "Cannot give ${gate} the group ${gate_group} and mode 4750")
  endif()
endif()
