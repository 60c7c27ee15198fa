# The reliability suite: load, faults, hostile input, other users, memcheck.
# Included from tests/CMakeLists.txt after the lab, the harness and the controller.
if(NOT HOSTSWEEP_CONTROLLER)
  return()
endif()

# Stands in for the worker to test the controller's receiver (--worker).
add_executable(rogue_worker tools/rogue_worker.cpp)
hostsweep_target_options(rogue_worker)
target_link_libraries(rogue_worker PRIVATE hostsweep_report_socket)

add_library(hostsweep_reliability_support STATIC
  integration/reliability_support.cpp integration/controller_run.cpp)
hostsweep_target_options(hostsweep_reliability_support)
target_compile_definitions(hostsweep_reliability_support PRIVATE
  HOSTSWEEP_CONTROLLER_PATH="$<TARGET_FILE:hostsweep>")

function(hostsweep_reliability_test name)
  hostsweep_lab_test(reliability.${name} ${ARGN})
  target_link_libraries(reliability.${name} PRIVATE hostsweep_reliability_support
    hostsweep_report_socket)
  target_compile_definitions(reliability.${name} PRIVATE
    HOSTSWEEP_ROGUE_WORKER_PATH="$<TARGET_FILE:rogue_worker>")
  add_dependencies(reliability.${name} hostsweep hostsweep-worker rogue_worker)
endfunction()

hostsweep_reliability_test(load integration/reliability_load_test.cpp)
target_link_libraries(reliability.load PRIVATE hostsweep_controller_platform)
target_compile_definitions(reliability.load PRIVATE
  HOSTSWEEP_MDNS_RESPONDER_PATH="$<TARGET_FILE:mdns_responder>")
add_dependencies(reliability.load mdns_responder)
hostsweep_reliability_test(faults integration/reliability_faults_test.cpp)
hostsweep_reliability_test(input integration/reliability_input_test.cpp)
hostsweep_reliability_test(security integration/reliability_security_test.cpp)
hostsweep_reliability_test(valgrind integration/reliability_valgrind_test.cpp)
target_compile_definitions(reliability.valgrind PRIVATE
  HOSTSWEEP_SHARED_WORKER_PATH="$<TARGET_FILE:hostsweep-worker-shared>")
add_dependencies(reliability.valgrind hostsweep-worker-shared)
