# The event-log message table. Each program names itself as its own
# EventMessageFile, so the compiled table is linked into both.
set(QF_MESSAGES_MC  ${CMAKE_SOURCE_DIR}/Common/Service/Messages.mc)
set(QF_MESSAGES_DIR ${CMAKE_BINARY_DIR}/generated)

find_program(QF_MC_EXECUTABLE NAMES ${QF_MC_COMPILER} windmc x86_64-w64-mingw32-windmc mc REQUIRED)

add_custom_command(
  OUTPUT  ${QF_MESSAGES_DIR}/Messages.rc ${QF_MESSAGES_DIR}/Messages.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QF_MESSAGES_DIR}
  COMMAND ${QF_MC_EXECUTABLE} -h ${QF_MESSAGES_DIR} -r ${QF_MESSAGES_DIR} ${QF_MESSAGES_MC}
  DEPENDS ${QF_MESSAGES_MC}
  COMMENT "Compiling the event-log message table")
add_custom_target(qf_messages DEPENDS ${QF_MESSAGES_DIR}/Messages.rc ${QF_MESSAGES_DIR}/Messages.h)

# qf_add_program_resources(target resource.rc): the program's own resource
# script, which includes the message table and a version resource.
function(qf_add_program_resources target rc)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${QF_MESSAGES_DIR}/Messages.rc;${CMAKE_SOURCE_DIR}/Common/Service/Version.rc")
  target_include_directories(${target} PRIVATE ${QF_MESSAGES_DIR} ${CMAKE_SOURCE_DIR}/Common/Service)
  add_dependencies(${target} qf_messages)
endfunction()
