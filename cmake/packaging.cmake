# Documentation, log rotation and the settings store's pkg-config file.
#
# Installed besides the programs (gate/, tools/) and the settings store
# (config/): the manual pages, compressed as Debian installs them; the example
# policies and the README as documentation; the policy's JSON Schema; the log
# rotation. The policy is the administrator's to write: no install creates it.
# The Debian packages are built by debian/rules (dpkg-buildpackage), from
# what these rules install.

# The pages carry the date of the release: that of the newest entry of
# debian/changelog, put into the date field of each page's .TH line.
set(changelog ${PROJECT_SOURCE_DIR}/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} release_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT release_trailer MATCHES ", ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "No date in the first entry of ${changelog}: ${release_trailer}")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
string(REGEX REPLACE "^([0-9])$" "0\\1" month ${month})
string(REGEX REPLACE "^([0-9])$" "0\\1" day ${day})
set(release_date ${year}-${month}-${day})

set(man_pages corvexin_check.8 cmd_check.json.5 corvexin_policy.8)
set(compressed_pages)
foreach(page IN LISTS man_pages)
  string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${page})
  set(source ${PROJECT_SOURCE_DIR}/man/${page})
  set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "sed -E '1s/^(\\.TH +[^ ]+ +[^ ]+ +)[^ ]+/\\1'\"$3\"'/' \"$1\" | gzip -9n >\"$2\""
            sh ${source} ${output} ${release_date}
    DEPENDS ${source} ${changelog} VERBATIM)
  list(APPEND compressed_pages ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${compressed_pages})

# The log's directory, at the gate's fixed path whatever the prefix, root's
# alone: nobody else may put a link or a FIFO where the gate writes as root.
install(DIRECTORY DESTINATION /var/varn/log
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)

# Weekly rotation of the log, whatever the prefix: logrotate reads only /etc.
install(FILES ${PROJECT_SOURCE_DIR}/share/corvexin.logrotate DESTINATION /etc/logrotate.d
  RENAME corvexin)

file(GLOB example_policies CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.json)
install(FILES ${example_policies} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/NEWS ${PROJECT_SOURCE_DIR}/SECURITY.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/share/cmd_check.schema.json
  DESTINATION ${CMAKE_INSTALL_DATADIR}/corvexin)

# Completion of corvexin_policy's actions and options in bash, where the
# bash-completion package loads it when the command is first completed.
install(FILES ${PROJECT_SOURCE_DIR}/share/bash-completion/corvexin_policy
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The settings store's pkg-config file, written when it is installed, so
# that it names the prefix of that install (cmake --install --prefix DIR).
set(pc_template ${PROJECT_SOURCE_DIR}/cmake/corvexin_config.pc.in)
set(pc_file ${PROJECT_BINARY_DIR}/pkgconfig/corvexin_config.pc)
install(CODE "set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(libdir \"${CMAKE_INSTALL_LIBDIR}\")
  set(includedir \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(version \"${PROJECT_VERSION}\")
  configure_file(\"${pc_template}\" \"${pc_file}\" @ONLY)
  file(INSTALL \"${pc_file}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)"
  COMPONENT corvexin_config)
