# The key update packages must be signed with: QEV_UPDATE_PUBLIC_KEY (base64 of the 32-byte
# Ed25519 public key, as qev-sign keygen prints it). Included by deployment.cmake once the
# four hosts are known; sets QEV_UPDATE_PUBLIC_KEY and QEV_UPDATE_SECRET_KEY_FILE.
#
#   Given (-DQEV_UPDATE_PUBLIC_KEY=...): the operator's key. Nothing secret is built in; the
#   demo portal signs only with a secret key file it is handed.
#   Not given: the build folder makes its own pair once (update-key/, the secret file mode
#   0600, reused by later configures), the client trusts its public key and the demo portal
#   of the same build signs with its secret. Only while all four hosts are loopback
#   addresses: a client for real hosts trusts its operator's key and nothing else.
#
# Refused either way: an empty key (no build installs unsigned packages) and every key whose
# secret is or was in the repository (committed_update_keys.txt).

set(QEV_COMMITTED_UPDATE_KEYS_FILE ${CMAKE_CURRENT_LIST_DIR}/committed_update_keys.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QEV_COMMITTED_UPDATE_KEYS_FILE})

# TRUE in result when host ("name" or "name:port", "[v6]" or "[v6]:port") names this machine
# by a loopback address: a dotted quad 127.x.y.z (decimal parts 0..255, no leading zeros),
# localhost or [::1]. Anything else, however close, is a real host.
function(qev_host_is_loopback host result)
  set(loopback FALSE)
  if(host MATCHES "^\\[::1\\](:[0-9]+)?$")
    set(loopback TRUE)
  elseif(host MATCHES "^([^:]+)(:[0-9]+)?$")
    set(name "${CMAKE_MATCH_1}")
    set(octet "(0|[1-9][0-9]?[0-9]?)")
    if(name STREQUAL "localhost")
      set(loopback TRUE)
    elseif(name MATCHES "^127\\.${octet}\\.${octet}\\.${octet}$")
      set(loopback TRUE)
      foreach(value IN ITEMS "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}")
        if(value GREATER 255)
          set(loopback FALSE)
        endif()
      endforeach()
    endif()
  endif()
  set(${result} ${loopback} PARENT_SCOPE)
endfunction()

# Fails configure unless key is a public key as qev-sign keygen prints it and its secret is
# not one the repository has held.
function(qev_check_given_update_key key)
  if(key STREQUAL "")
    message(FATAL_ERROR "QEV_UPDATE_PUBLIC_KEY is empty. Every build checks update packages: "
      "leave QEV_UPDATE_PUBLIC_KEY out (loopback hosts only; the build makes its own key "
      "pair) or give the public key of your own pair (see README, Signed updates).")
  endif()
  string(LENGTH "${key}" length)
  # 43 characters carry 258 bits, so the last of them has its low two bits clear.
  if(NOT length EQUAL 44 OR NOT key MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$")
    message(FATAL_ERROR "QEV_UPDATE_PUBLIC_KEY '${key}' is not a public key as qev-sign "
      "keygen prints it (44 characters of base64 of 32 bytes)")
  endif()
  file(STRINGS ${QEV_COMMITTED_UPDATE_KEYS_FILE} lines)
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^[A-Za-z0-9+/]+=" listed "${line}")
    if(listed STREQUAL key)
      message(FATAL_ERROR "QEV_UPDATE_PUBLIC_KEY ${key} belongs to a secret key that is, or "
        "was, in this repository (${line}): anyone can sign updates for it. Make your own "
        "pair with qev-sign keygen (see README, Signed updates).")
    endif()
  endforeach()
endfunction()

# Makes the build folder's own key pair in dir unless it is there already. Sets public_var
# to the public key and secret_var to the path of the secret key file.
function(qev_build_folder_update_key dir public_var secret_var)
  set(secret_file ${dir}/qev-update.secret)
  set(public_file ${dir}/qev-update.public)
  # Written public first, secret last; a folder without both is made afresh.
  if(NOT EXISTS ${secret_file} OR NOT EXISTS ${public_file})
    find_program(QEV_OPENSSL openssl)
    if(NOT QEV_OPENSSL)
      message(FATAL_ERROR "openssl is needed to make this build folder's update key pair "
        "(Debian package openssl; scripts/bootstrap installs it)")
    endif()
    file(REMOVE_RECURSE ${dir})
    file(MAKE_DIRECTORY ${dir})
    file(CHMOD ${dir} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    set(pem ${dir}/new.pem)
    execute_process(COMMAND ${QEV_OPENSSL} genpkey -algorithm ed25519 -out ${pem}
                    RESULT_VARIABLE status ERROR_VARIABLE error)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "openssl genpkey -algorithm ed25519 failed: ${error}")
    endif()
    # The DER forms end with the raw keys: the 32-byte seed of the private key, and the
    # 32-byte public key.
    execute_process(COMMAND ${QEV_OPENSSL} pkey -in ${pem} -outform DER
                    COMMAND tail -c 32
                    COMMAND ${QEV_OPENSSL} base64 -A
                    RESULTS_VARIABLE seed_status OUTPUT_VARIABLE seed ERROR_VARIABLE error
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${QEV_OPENSSL} pkey -in ${pem} -pubout -outform DER
                    COMMAND tail -c 32
                    COMMAND ${QEV_OPENSSL} base64 -A
                    RESULTS_VARIABLE public_status OUTPUT_VARIABLE public ERROR_VARIABLE error
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(REMOVE ${pem})
    string(LENGTH "${seed}" seed_length)
    string(LENGTH "${public}" public_length)
    if(NOT seed_status STREQUAL "0;0;0" OR NOT public_status STREQUAL "0;0;0" OR
       NOT seed_length EQUAL 44 OR NOT public_length EQUAL 44)
      message(FATAL_ERROR "openssl did not give an Ed25519 key pair: ${error}")
    endif()
    file(WRITE ${public_file} "${public}\n")
    set(text "# This build folder's own update signing key, made by CMake at configure time.\n")
    string(APPEND text "# The client of this build installs packages signed with it, and the\n")
    string(APPEND text "# build's qev-demo-portal signs with it. Keep it in the build folder.\n")
    string(APPEND text "qev-update-secret-key 1 ${seed}\n")
    file(WRITE ${secret_file}.new "${text}")
    file(CHMOD ${secret_file}.new PERMISSIONS OWNER_READ OWNER_WRITE)
    file(RENAME ${secret_file}.new ${secret_file})
    message(STATUS "Made this build folder's update key pair in ${dir}")
  endif()
  file(STRINGS ${public_file} public LIMIT_COUNT 1)
  if(NOT public MATCHES "^[A-Za-z0-9+/]+=$")
    message(FATAL_ERROR "${public_file} holds no public key: remove ${dir} to make a new pair")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${secret_file} ${public_file})
  set(${public_var} ${public} PARENT_SCOPE)
  set(${secret_var} ${secret_file} PARENT_SCOPE)
endfunction()

# A build folder configured before the build made its own keys holds the former default, the
# demo key, in its cache; it is dropped, not taken for the operator's choice.
get_property(_qev_key_help CACHE QEV_UPDATE_PUBLIC_KEY PROPERTY HELPSTRING)
if(_qev_key_help STREQUAL "Base64 Ed25519 public key that signs update packages (empty: no check)"
   AND QEV_UPDATE_PUBLIC_KEY STREQUAL "36KzXt4AVKjWizZcBruKwN9QqNI28JreWzt7fv3swQE=")
  message(STATUS "Dropping the former default QEV_UPDATE_PUBLIC_KEY (the demo key) from the cache")
  unset(QEV_UPDATE_PUBLIC_KEY CACHE)
  unset(QEV_UPDATE_PUBLIC_KEY)
endif()

if(DEFINED QEV_UPDATE_PUBLIC_KEY)
  qev_check_given_update_key("${QEV_UPDATE_PUBLIC_KEY}")
  set(QEV_UPDATE_PUBLIC_KEY "${QEV_UPDATE_PUBLIC_KEY}" CACHE STRING
      "Base64 Ed25519 public key that signs update packages (qev-sign keygen prints it)")
  set(QEV_UPDATE_SECRET_KEY_FILE "")
else()
  set(_qev_real_hosts)
  foreach(_qev_host_var IN ITEMS QEV_PORTAL_HOST QEV_GAME_HOST QEV_FORUM_HOST QEV_STATIC_HOST)
    qev_host_is_loopback("${${_qev_host_var}}" _qev_loopback)
    if(NOT _qev_loopback)
      list(APPEND _qev_real_hosts "${_qev_host_var}=${${_qev_host_var}}")
    endif()
  endforeach()
  if(_qev_real_hosts)
    list(JOIN _qev_real_hosts ", " _qev_real_hosts)
    message(FATAL_ERROR "Not a loopback address: ${_qev_real_hosts}. A build for real hosts "
      "needs the operator's update key. Make one pair and keep its secret file safe:\n"
      "  cmake -S . -B build-sign -DQEV_BUILD_GUI=OFF && cmake --build build-sign --target qev-sign\n"
      "  build-sign/bin/qev-sign keygen /safe/place/qev-update.key   (prints the public key)\n"
      "then configure this build with -DQEV_UPDATE_PUBLIC_KEY=<the printed public key>.")
  endif()
  qev_build_folder_update_key(${PROJECT_BINARY_DIR}/update-key QEV_UPDATE_PUBLIC_KEY
                              QEV_UPDATE_SECRET_KEY_FILE)
endif()
