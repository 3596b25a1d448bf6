# The manual page renders without a warning.
need groff
ck "manual renders cleanly" "0|" "$(runc groff -man -ww -z "$bin" 2>&1)"
