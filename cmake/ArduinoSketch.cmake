# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
# Arduino sketches built on Debian's arduino-core-avr with avr-gcc, without the
# IDE (which pulls in Java), for the bench to run:
#
#   add_arduino_sketch(NAME FOLDER folder BOARD uno|mega [LIBRARIES lib...])
#     builds the sketch folder as the IDE would into NAME.elf and NAME.hex;
#   add_arduino_mk_sketch(NAME FOLDER folder BOARD uno|mega)
#     builds it with arduino-mk, as a user would, into the build tree.
#
# The target NAME carries SKETCH_ELF, SKETCH_HEX, SKETCH_BOARD and SKETCH_MCU.
# Both are usable only where ARDUINO_SKETCH_FOUND (resp. ARDUINO_MK_FOUND) is
# true. Run as a script (cmake -P), this file holds the checks the rules and
# the tests use: MODE=size and MODE=device.

if(CMAKE_SCRIPT_MODE_FILE)
  if(MODE STREQUAL "size")
    # As the IDE, a sketch that does not fit the board is an error.
    execute_process(COMMAND ${AVR_SIZE} -A ${ELF} OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
    set(flash 0)
    set(ram 0)
    foreach(section text data bss noinit)
      if(out MATCHES "\n\\.${section} +([0-9]+)")
        set(bytes ${CMAKE_MATCH_1})
        if(section MATCHES "text|data")
          math(EXPR flash "${flash} + ${bytes}")
        endif()
        if(section MATCHES "data|bss|noinit")
          math(EXPR ram "${ram} + ${bytes}")
        endif()
      endif()
    endforeach()
    if(flash GREATER MAX_FLASH OR ram GREATER MAX_RAM)
      message(FATAL_ERROR "${ELF}: ${flash} bytes of flash (at most ${MAX_FLASH}) and "
                          "${ram} of RAM (at most ${MAX_RAM}): too big for the board")
    endif()
    message(STATUS "${ELF}: ${flash} of ${MAX_FLASH} bytes of flash, ${ram} of ${MAX_RAM} of RAM")
  elseif(MODE STREQUAL "device")
    # avr-libc's device note names the MCU, the only record of it an
    # Arduino ELF has; its one string of four or more characters is that name.
    set(note ${OUT_DIR}/device-note.bin)
    file(REMOVE ${note})
    file(MAKE_DIRECTORY ${OUT_DIR})
    execute_process(COMMAND ${AVR_OBJCOPY} --dump-section .note.gnu.avr.deviceinfo=${note}
                            ${ELF} ${OUT_DIR}/device-note.elf
                    RESULT_VARIABLE failed ERROR_VARIABLE why)
    if(failed OR NOT EXISTS ${note})
      message(FATAL_ERROR "${ELF}: no device note. ${why}")
    endif()
    file(STRINGS ${note} names LENGTH_MINIMUM 4)
    if(NOT names STREQUAL MCU)
      message(FATAL_ERROR "${ELF}: the device note names '${names}', not ${MCU}")
    endif()
    # As text: file(STRINGS) would read a HEX file as the image it holds.
    file(STRINGS ${HEX} records NO_HEX_CONVERSION)
    list(POP_BACK records last)
    if(NOT last STREQUAL ":00000001FF")
      message(FATAL_ERROR "${HEX}: does not end with an end-of-file record")
    endif()
  else()
    message(FATAL_ERROR "ArduinoSketch.cmake: MODE must be size or device")
  endif()
  return()
endif()

include(SuiteTools)
# The AVR toolchain, for the firmware's build too.
suite_tool(AVR_GCC avr-gcc PACKAGE gcc-avr)
suite_tool(AVR_GXX avr-g++ PACKAGE gcc-avr)
suite_tool(AVR_AR avr-ar PACKAGE binutils-avr)
suite_tool(AVR_OBJCOPY avr-objcopy PACKAGE binutils-avr)
suite_tool(AVR_SIZE avr-size PACKAGE binutils-avr)
# The Arduino core is the host's, whatever the target of the rest.
find_path(ARDUINO_AVR_DIR cores/arduino/Arduino.h PATHS /usr/share/arduino/hardware/arduino/avr
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_file(ARDUINO_MK Arduino.mk PATHS /usr/share/arduino NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
suite_tool(ARDUINO_MAKE make PACKAGE make)

set(ARDUINO_SKETCH_FOUND FALSE)
if(AVR_GCC AND AVR_GXX AND AVR_AR AND AVR_OBJCOPY AND AVR_SIZE AND ARDUINO_AVR_DIR)
  set(ARDUINO_SKETCH_FOUND TRUE)
endif()
set(ARDUINO_MK_FOUND FALSE)
if(ARDUINO_SKETCH_FOUND AND ARDUINO_MK AND ARDUINO_MAKE)
  set(ARDUINO_MK_FOUND TRUE)
endif()

set(_arduino_sketch_module ${CMAKE_CURRENT_LIST_FILE})

# What boards.txt says of each board we build for.
function(_arduino_board board)
  if(board STREQUAL "uno")
    set(values atmega328p AVR_UNO standard 32256 2048)
  elseif(board STREQUAL "mega")
    set(values atmega2560 AVR_MEGA2560 mega 253952 8192)
  else()
    message(FATAL_ERROR "Arduino board '${board}': only uno and mega are known")
  endif()
  foreach(name mcu macro variant flash ram)
    list(POP_FRONT values value)
    set(${name} ${value} PARENT_SCOPE)
  endforeach()
endfunction()

# Compiles one file into an object; the core's and libraries' own sources are
# not ours, so their warnings are silenced as the IDE does by default.
function(_arduino_compile source object ours)
  set(flags -c -g -Os -mmcu=${mcu} -DF_CPU=16000000L -DARDUINO=10819 -DARDUINO_${macro}
            -DARDUINO_ARCH_AVR -ffunction-sections -fdata-sections ${ARGN})
  if(ours)
    # Not -Wpedantic: the core's headers are GNU C++ and cannot be -isystem
    # (avr-gcc would read them as extern "C").
    list(APPEND flags -Wall -Wextra)
    if(CMAKE_COMPILE_WARNING_AS_ERROR)
      list(APPEND flags -Werror)
    endif()
  else()
    list(APPEND flags -w)
  endif()
  if(source MATCHES "\\.c$")
    set(compiler ${AVR_GCC} -std=gnu11)
  elseif(source MATCHES "\\.S$")
    set(compiler ${AVR_GCC} -x assembler-with-cpp)
  else()
    # The IDE adds the core's header to a sketch itself, as arduino-mk does.
    set(compiler ${AVR_GXX} -std=gnu++11 -fno-exceptions -fno-threadsafe-statics)
    if(source MATCHES "\\.ino$")
      list(APPEND compiler -x c++ -include Arduino.h)
    endif()
  endif()
  get_filename_component(object_dir ${object} DIRECTORY)
  file(MAKE_DIRECTORY ${object_dir})
  add_custom_command(OUTPUT ${object}
    COMMAND ${compiler} ${flags} -MMD -MF ${object}.d ${source} -o ${object}
    DEPENDS ${source}
    DEPFILE ${object}.d
    VERBATIM)
endfunction()

# The core, built once for each board in a project.
function(_arduino_core board)
  if(TARGET arduino_core_${board})
    return()
  endif()
  _arduino_board(${board})
  set(core ${ARDUINO_AVR_DIR}/cores/arduino)
  set(dir ${CMAKE_BINARY_DIR}/arduino-core/${board})
  file(GLOB sources ${core}/*.c ${core}/*.cpp ${core}/*.S)
  set(objects)
  foreach(source ${sources})
    get_filename_component(name ${source} NAME)
    # Debian's gcc-avr 5.4 lacks DECIMAL_DIG, which the core's WString.cpp uses.
    _arduino_compile(${source} ${dir}/${name}.o FALSE -DDECIMAL_DIG=17 -I${core}
                     -I${ARDUINO_AVR_DIR}/variants/${variant})
    list(APPEND objects ${dir}/${name}.o)
  endforeach()
  add_custom_command(OUTPUT ${dir}/core.a
    COMMAND ${CMAKE_COMMAND} -E rm -f ${dir}/core.a
    COMMAND ${AVR_AR} rcs ${dir}/core.a ${objects}
    DEPENDS ${objects}
    VERBATIM)
  add_custom_target(arduino_core_${board} DEPENDS ${dir}/core.a)
  set_target_properties(arduino_core_${board} PROPERTIES ARCHIVE ${dir}/core.a)
endfunction()

# What both rules begin with: the tools they need, the board's facts, and the
# sketch's folder and name (sets folder and sketch in the caller).
macro(_arduino_sketch_start rule found missing)
  if(NOT ${found})
    message(FATAL_ERROR "${rule}(${name}): ${missing} missing")
  endif()
  _arduino_board(${arg_BOARD})
  get_filename_component(folder ${arg_FOLDER} ABSOLUTE)
  get_filename_component(sketch ${folder} NAME)
endmacro()

function(add_arduino_sketch name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FOLDER;BOARD" "LIBRARIES")
  _arduino_sketch_start(add_arduino_sketch ARDUINO_SKETCH_FOUND
                        "the AVR toolchain or the Arduino core is")
  _arduino_core(${arg_BOARD})
  # The IDE opens a sketch only as FOLDER/FOLDER.ino; more .ino files it
  # would join in one, which this rule does not.
  file(GLOB inos ${folder}/*.ino)
  if(NOT inos STREQUAL "${folder}/${sketch}.ino")
    message(FATAL_ERROR "add_arduino_sketch(${name}): ${folder} must hold one .ino, ${sketch}.ino")
  endif()
  # What the IDE compiles of a sketch: its folder's sources and its src/.
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.ino ${folder}/*.c ${folder}/*.cpp ${folder}/*.S)
  file(GLOB_RECURSE src CONFIGURE_DEPENDS ${folder}/src/*.c ${folder}/src/*.cpp ${folder}/src/*.S)
  list(APPEND sources ${src})

  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(includes -I${ARDUINO_AVR_DIR}/cores/arduino
               -I${ARDUINO_AVR_DIR}/variants/${variant})
  set(library_sources)
  foreach(library ${arg_LIBRARIES})
    set(library_dir ${ARDUINO_AVR_DIR}/libraries/${library}/src)
    if(NOT EXISTS ${library_dir})
      message(FATAL_ERROR "add_arduino_sketch(${name}): no library ${library} in ${ARDUINO_AVR_DIR}")
    endif()
    list(APPEND includes -I${library_dir})
    file(GLOB_RECURSE found ${library_dir}/*.c ${library_dir}/*.cpp ${library_dir}/*.S)
    list(APPEND library_sources ${found})
  endforeach()

  set(objects)
  foreach(source ${sources})
    file(RELATIVE_PATH object ${folder} ${source})
    _arduino_compile(${source} ${dir}/${object}.o TRUE ${includes} -I${folder})
    list(APPEND objects ${dir}/${object}.o)
  endforeach()
  foreach(source ${library_sources})
    file(RELATIVE_PATH object ${ARDUINO_AVR_DIR}/libraries ${source})
    _arduino_compile(${source} ${dir}/libraries/${object}.o FALSE ${includes})
    list(APPEND objects ${dir}/libraries/${object}.o)
  endforeach()

  get_target_property(core arduino_core_${arg_BOARD} ARCHIVE)
  set(elf ${CMAKE_CURRENT_BINARY_DIR}/${name}.elf)
  set(hex ${CMAKE_CURRENT_BINARY_DIR}/${name}.hex)
  add_custom_command(OUTPUT ${elf}
    COMMAND ${AVR_GCC} -Os -g -mmcu=${mcu} -Wl,--gc-sections ${objects} ${core} -lm -o ${elf}
    COMMAND ${CMAKE_COMMAND} -DMODE=size -DAVR_SIZE=${AVR_SIZE} -DELF=${elf}
            -DMAX_FLASH=${flash} -DMAX_RAM=${ram} -P ${_arduino_sketch_module}
    DEPENDS ${objects} arduino_core_${arg_BOARD} ${core}
    COMMENT "Building Arduino sketch ${name}.elf for the ${arg_BOARD}"
    VERBATIM)
  add_custom_command(OUTPUT ${hex}
    COMMAND ${AVR_OBJCOPY} -O ihex -R .eeprom ${elf} ${hex}
    DEPENDS ${elf}
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${elf} ${hex})
  add_dependencies(${name} arduino_core_${arg_BOARD})
  set_target_properties(${name} PROPERTIES SKETCH_ELF ${elf} SKETCH_HEX ${hex}
                                           SKETCH_BOARD ${arg_BOARD} SKETCH_MCU ${mcu})
endfunction()

function(add_arduino_mk_sketch name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FOLDER;BOARD" "")
  _arduino_sketch_start(add_arduino_mk_sketch ARDUINO_MK_FOUND "arduino-mk or the Arduino core is")
  get_filename_component(arduino_dir ${ARDUINO_MK} DIRECTORY)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(board_tag ${arg_BOARD})
  if(arg_BOARD STREQUAL "mega")
    string(APPEND board_tag "\nBOARD_SUB = ${mcu}")
  endif()
  # The Makefile a user writes beside a sketch, here in the build tree so
  # that nothing is written into the sources.
  file(CONFIGURE OUTPUT ${dir}/Makefile @ONLY CONTENT [[
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The parley authors
BOARD_TAG = @board_tag@
# Named here: arduino-mk 1.5.2's own choice appends '_' to the folder's name.
TARGET = @sketch@
ARDUINO_DIR = @arduino_dir@
OBJDIR = @dir@
# Debian's gcc-avr 5.4 lacks DECIMAL_DIG, which the core's WString.cpp uses.
CPPFLAGS += -DDECIMAL_DIG=17
include @ARDUINO_MK@
]])
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*)
  set(elf ${dir}/${sketch}.elf)
  set(hex ${dir}/${sketch}.hex)
  # Not a make of ours: it must not join the calling make's jobs. It leaves
  # files that are up to date alone; touched, they tell that it ran.
  add_custom_command(OUTPUT ${elf} ${hex}
    COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MAKELEVEL --unset=MFLAGS
            ${ARDUINO_MAKE} --no-print-directory -C ${folder} -f ${dir}/Makefile
    COMMAND ${CMAKE_COMMAND} -E touch ${elf} ${hex}
    DEPENDS ${sources} ${dir}/Makefile
    COMMENT "Building Arduino sketch ${sketch} with arduino-mk for the ${arg_BOARD}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${elf} ${hex})
  set_target_properties(${name} PROPERTIES SKETCH_ELF ${elf} SKETCH_HEX ${hex}
                                           SKETCH_BOARD ${arg_BOARD} SKETCH_MCU ${mcu})
endfunction()
