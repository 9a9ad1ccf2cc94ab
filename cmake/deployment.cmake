# The operator's hosts are deployment values baked into the built-in layout.
# The defaults point at the demo portal (tools/demo-portal), one port per host.
set(QEV_PORTAL_HOST "127.0.0.1:18080" CACHE STRING "Host (with optional :port) of the login portal")
set(QEV_GAME_HOST "127.0.0.1:18081" CACHE STRING "Host of the game site")
set(QEV_FORUM_HOST "127.0.0.1:18082" CACHE STRING "Host of the forum")
set(QEV_STATIC_HOST "127.0.0.1:18083" CACHE STRING "Host of the static content (update manifests and packages)")
