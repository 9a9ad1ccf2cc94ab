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
# Further hosts of the operator's own (a game, sign-in or payment host elsewhere), as a list:
# the client's panes may show them, with every host of their registrable domain.
set(QEV_OPERATOR_SITES "" CACHE STRING "Extra hosts of the operator's sites (a ;-list)")

# The key update packages must be signed with, from the operator or made by this build folder
# (loopback hosts only).
include(${CMAKE_CURRENT_LIST_DIR}/update_key.cmake)
