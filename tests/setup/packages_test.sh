#!/usr/bin/env bash
# Fails when scripts/setup falls behind the build: every file the build took
# from the system must belong to a package that scripts/setup names, or to one
# that such a package depends on (Depends and Pre-Depends: recommended
# packages are not installed on a fresh machine). A green run on a machine
# where the package happened to be installed by hand would otherwise hide the
# missing install step until the next fresh machine.
#
# What counts as taken from the system:
#   - the paths CMakeCache.txt records (package configuration folders, and
#     the include folders, libraries and programs the build files use: an
#     optional probe of a find module that no target uses is passed over);
#   - one header of every system folder the compiler read (ninja's deps log)
#     and every system library on a link line;
#   - what the scripts and tests use at run time (Xvfb, Mesa's software
#     driver, Qt's X11 plugin, clang and its sanitizer runtimes, the test models).
#
# Usage: packages_test.sh SOURCE_DIR BUILD_DIR. Skips (exit 77) without dpkg.
set -uo pipefail
src=$1
build=$2

if ! command -v dpkg-query > /dev/null || ! command -v dpkg > /dev/null; then
  echo "SKIP: dpkg is not available, so the packages cannot be checked"
  exit 77
fi

mapfile -t wanted < <("$src/scripts/setup" --list)

# Every installed package with what it needs and what it provides.
table=$(dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Pre-Depends}, ${Depends}\t${Provides}\n' 2> /dev/null |
  awk -F'\t' '$1 ~ /^ii/ { print $2 "\t" $3 "\t" $4 }')

# The closure of the wanted packages over Depends and Pre-Depends. Every
# alternative of a dependency counts, and a virtual package stands for its
# installed providers.
closure=$(printf '%s\n' "$table" | awk -F'\t' -v roots="${wanted[*]}" '
  function names(list, out,    n, parts, i, name) {
    gsub(/\([^)]*\)/, "", list); gsub(/\|/, ",", list)
    n = split(list, parts, ",")
    for (i = 1; i <= n; i++) {
      name = parts[i]; gsub(/[ \t]/, "", name); sub(/:.*/, "", name)
      if (name != "") out[name] = 1
    }
  }
  {
    deps[$1] = $2
    split("", provided); names($3, provided)
    for (p in provided) providers[p] = providers[p] " " $1
  }
  END {
    n = split(roots, queue, " ")
    for (i = 1; i <= n; i++) seen[queue[i]] = 1
    for (i = 1; i <= n; i++) {
      pkg = queue[i]
      split("", next_names); names(deps[pkg], next_names)
      if (pkg in providers) { m = split(providers[pkg], prov, " "); for (j = 1; j <= m; j++) next_names[prov[j]] = 1 }
      for (d in next_names) if (!(d in seen)) { seen[d] = 1; queue[++n] = d }
    }
    for (p in seen) print p
  }')

declare -A needed
while IFS= read -r pkg; do needed[$pkg]=1; done <<< "$closure"

# Paths to check, one per line.
paths=$(
  # CMakeCache.txt: package configuration folders, and the typed path
  # entries that the generated build files use.
  # A configuration folder may be shared by several packages (Qt's are), so
  # the configuration file itself is what is checked.
  sed -nE 's/^([A-Za-z0-9_]+)_DIR:[A-Z]+=(\/.*)$/\1 \2/p' "$build/CMakeCache.txt" |
    while read -r name dir; do
      lower=$(tr 'A-Z' 'a-z' <<< "$name")
      for file in "$dir/${name}Config.cmake" "$dir/$lower-config.cmake" "$dir"; do
        if [ -e "$file" ]; then echo "$file"; break; fi
      done
    done
  sed -nE '/^CMAKE_INSTALL_/d; s/^[A-Za-z0-9_]+:(PATH|FILEPATH)=(\/.*)$/\2/p' "$build/CMakeCache.txt" |
    while IFS= read -r value; do
      if grep -qF -- "$value" "$build/build.ninja" "$build/CMakeFiles/rules.ninja" 2> /dev/null; then echo "$value"; fi
    done
  # Headers: one file of every system folder the compiler read.
  if command -v ninja > /dev/null; then
    ninja -C "$build" -t deps 2> /dev/null | sed -nE 's/^ +(\/[^ ]+)$/\1/p' | sort -u |
      awk '{ d = $0; sub(/\/[^\/]*$/, "", d); if (!(d in seen)) { seen[d] = 1; print } }'
    ninja -C "$build" -t commands 2> /dev/null | grep -oE ' /[^ ]+\.(so|a)(\.[0-9]+)*' | sed 's/^ //'
  fi
  # What the scripts and tests use at run time.
  for program in xvfb-run Xvfb xauth clang clang++ node; do command -v "$program" || echo "missing-program:$program"; done
  if command -v clang > /dev/null; then
    for runtime in asan ubsan_standalone fuzzer; do clang -print-file-name="libclang_rt.$runtime-x86_64.a"; done
  fi
  arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2> /dev/null || echo x86_64-linux-gnu)
  echo "/usr/lib/$arch/dri/swrast_dri.so"
  echo "/usr/lib/$arch/qt6/plugins/platforms/libqxcb.so"
  echo "/usr/share/assimp/models/X/Testwuson.X"
)

# Who owns each path, read from dpkg's file lists in one pass (dpkg -S takes
# seconds for many paths); a path they do not hold is looked up again as
# resolved (symbolic links such as /usr/bin/c++ through the alternatives) and
# as its twin across the merged /usr (dpkg may record /lib for what lives in
# /usr/lib).
lists=/var/lib/dpkg/info
declare -A owner
record_owners() {
  local line pkg path
  while IFS= read -r line; do
    pkg=${line%%.list:*}
    pkg=${pkg##*/}
    path=${line#*.list:}
    owner[$path]+="${pkg%%:*}"$'\n'
  done < <(printf '%s\n' "$@" | grep -Fx -f - "$lists"/*.list)
}
fail=0
existing=()
while IFS= read -r path; do
  [ -n "$path" ] || continue
  case $path in
    missing-program:*)
      echo "FAIL: the program ${path#missing-program:} is not installed; scripts/setup must install the package that holds it"
      fail=1
      continue ;;
    "$src"/* | "$build"/* | "$src" | "$build") continue ;;
  esac
  if [ ! -e "$path" ]; then
    echo "FAIL: $path is needed but not there; scripts/setup must install the package that holds it"
    fail=1
    continue
  fi
  existing+=("$path")
done < <(printf '%s\n' "$paths" | sort -u)

record_owners "${existing[@]}"
for path in "${existing[@]}"; do
  [ -n "${owner[$path]:-}" ] && continue
  for candidate in "$(readlink -f "$path")" "${path#/usr}" "/usr$path"; do
    record_owners "$candidate"
    if [ -n "${owner[$candidate]:-}" ]; then
      owner[$path]=${owner[$candidate]}
      break
    fi
  done
done

for path in "${existing[@]}"; do
  owned=${owner[$path]:-}
  if [ -z "$owned" ]; then
    echo "FAIL: $path belongs to no package: it was installed by hand, and a fresh machine will not have it"
    fail=1
    continue
  fi
  ok=0
  while IFS= read -r pkg; do
    if [ -n "$pkg" ] && [ -n "${needed[$pkg]:-}" ]; then ok=1; break; fi
  done <<< "$owned"
  if [ $ok = 0 ]; then
    echo "FAIL: $path belongs to $(echo $owned | tr ' ' ','), which scripts/setup neither names nor depends on"
    fail=1
  fi
done

echo "checked ${#existing[@]} system files against ${#wanted[@]} packages and their $(wc -l <<< "$closure") dependencies"
exit $fail
