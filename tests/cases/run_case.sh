#!/usr/bin/env bash
# Runs one case folder: its recipe builds the volume in a fresh folder, its `cmd`
# runs there, its optional `after` shows what the run left; stdout, stderr, the
# after part and the exit status, filtered of what varies, must equal `expect`.
# KESTRA_CASES_UPDATE=1 writes `expect` instead, so a change is reviewed as a diff.
# Needs KESTRA_CLI (the kestra-cli to test) and KESTRA_CASE_VOLUME.
set -uo pipefail
case_dir=$(cd "${1:?usage: run_case.sh CASE_DIR}" && pwd)
cases=$(cd "$(dirname "$0")" && pwd)
# In memory where there is room: a flush there costs nothing, so a run is fast.
tmp=${KESTRA_CASES_TMP:-/dev/shm}
[[ -d $tmp && -w $tmp ]] || tmp=${TMPDIR:-/tmp}
work=$(mktemp -d "$tmp/kestra-case.XXXXXX")
trap 'chmod -R u+rwX "$work"; rm -rf "$work"' EXIT
chmod 755 "$work"

mkdir "$work/bin"
ln -s "${KESTRA_CLI:?}" "$work/bin/kestra-cli"
ln -s "${KESTRA_CASE_VOLUME:?}" "$work/bin/case-volume"
# mkfs.fat takes the serial number and the label entry's time from the clock:
# a fixed serial (one given later wins), and the label written by mlabel, which
# takes its time from SOURCE_DATE_EPOCH.
cat >"$work/bin/mkfs.fat" <<EOF
#!/usr/bin/env bash
args=() label=
while ((\$#)); do
    if [[ \$1 == -n ]]; then label=\$2; shift 2; else args+=("\$1"); shift; fi
done
$(command -v mkfs.fat) -i 4B455354 "\${args[@]}" || exit
[[ -z \$label ]] || mlabel -i "\${args[-2]}" "::\$label"
EOF
chmod 755 "$work/bin/mkfs.fat"
# The same bytes every time: fixed times for mkfs.fat and mtools, no colours.
export PATH="$work/bin:$PATH" CASES="$cases" REGRESSIONS="$cases/regressions"
export SOURCE_DATE_EPOCH=1000000000 MTOOLS_SKIP_CHECK=1 TZ=UTC LC_ALL=C NO_COLOR=1 TERM=dumb
export KESTRA_HOME="$work/home"

mkdir "$work/run"
cd "$work/run" || exit 1
if ! bash -ec "source '$cases/lib.sh'; source '$case_dir/recipe'" >"$work/recipe.log" 2>&1; then
    echo "the recipe of $(basename "$case_dir") failed:"
    cat "$work/recipe.log"
    exit 1
fi
command=$(cat "$case_dir/cmd")
bash -c "source '$cases/lib.sh'; $command" >"$work/stdout" 2>"$work/stderr" </dev/null
status=$?
{
    echo "\$ $command"
    echo "--- stdout"
    cat "$work/stdout"
    echo "--- stderr"
    cat "$work/stderr"
    if [[ -f $case_dir/after ]]; then
        echo "--- after"
        bash -c "source '$cases/lib.sh'; source '$case_dir/after'" 2>&1 </dev/null
    fi
    echo "Exit status is $status"
} | sed -f "$cases/filter.sed" -e "s|$work|\$WORK|g" >"$work/actual"

if [[ ${KESTRA_CASES_UPDATE:-} == 1 ]]; then
    cp "$work/actual" "$case_dir/expect"
    exit 0
fi
diff -u --label "$case_dir/expect" --label actual "$case_dir/expect" "$work/actual" && exit 0
echo "KESTRA_CASES_UPDATE=1 ctest -L cases rewrites the expectations to review as a diff"
exit 1
