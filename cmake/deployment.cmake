# The operator's hosts are deployment values baked into the built-in layout.
# The defaults point at the demo portal (tools/demo-portal), one loopback port per host, from
# QEV_DEMO_PORT_BASE on; two build trees on one machine can then run their end-to-end tests
# side by side by choosing different bases.
set(QEV_DEMO_PORT_BASE 18080 CACHE STRING "First of the four loopback ports of the default hosts")
math(EXPR _qev_game_port "${QEV_DEMO_PORT_BASE} + 1")
math(EXPR _qev_forum_port "${QEV_DEMO_PORT_BASE} + 2")
math(EXPR _qev_static_port "${QEV_DEMO_PORT_BASE} + 3")
set(QEV_PORTAL_HOST "127.0.0.1:${QEV_DEMO_PORT_BASE}" CACHE STRING "Host (with optional :port) of the login portal")
set(QEV_GAME_HOST "127.0.0.1:${_qev_game_port}" CACHE STRING "Host of the game site")
set(QEV_FORUM_HOST "127.0.0.1:${_qev_forum_port}" CACHE STRING "Host of the forum")
set(QEV_STATIC_HOST "127.0.0.1:${_qev_static_port}" CACHE STRING "Host of the static content (update manifests and packages)")

# The public key (base64, as qev-sign keygen prints it) that update packages must be
# signed with. The default is the demo portal's key (tools/demo-portal/demo_update_key.secret),
# which is public: an operator builds with their own. Empty: packages are installed unchecked.
set(QEV_UPDATE_PUBLIC_KEY "36KzXt4AVKjWizZcBruKwN9QqNI28JreWzt7fv3swQE="
  CACHE STRING "Base64 Ed25519 public key that signs update packages (empty: no check)")
if(NOT QEV_UPDATE_PUBLIC_KEY STREQUAL "" AND NOT QEV_UPDATE_PUBLIC_KEY MATCHES "^[A-Za-z0-9+/]+=$")
  message(FATAL_ERROR "QEV_UPDATE_PUBLIC_KEY is not a public key as qev-sign keygen prints it")
endif()
string(LENGTH "${QEV_UPDATE_PUBLIC_KEY}" _qev_key_length)
if(NOT QEV_UPDATE_PUBLIC_KEY STREQUAL "" AND NOT _qev_key_length EQUAL 44)
  message(FATAL_ERROR "QEV_UPDATE_PUBLIC_KEY must be 44 characters of base64")
endif()
