#!/usr/bin/env bash
# The demo tour: a small shop database made from examples/demo.sql, then a
# join, an aggregate, a stored procedure with two result sets, an output
# parameter and a message, a positioned update through a cursor and an
# online backup, each run by vdbsql as a user would type it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
vdbsql="$build/bin/vdbsql"
demo=${VDB_DEMO_DIR:-build/demo}   # the tests put it in a temporary directory
db="$demo/demo.db"

rm -rf "$demo"
mkdir -p "$demo"
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
if ! "$vdbsql" --create "$db" --format csv -f examples/demo.sql >/dev/null 2>"$errors"; then
  cat "$errors" >&2
  exit 1
fi

step() { printf '\n=== %s\n\n' "$1"; }
# Messages and progress lines (stderr) follow the results of each step.
run() {
  local status=0
  "$vdbsql" "$db" --format table --echo "$@" 2>"$errors" || status=$?
  cat "$errors" >&2
  [ "$status" -eq 0 ] || exit "$status"
}

step "The database: one file, served by the engine inside vdbsql"
run -c '\info' -c '\tables'

step "A join: every order with its customer, line count and total (a SQL function)"
run -c "select o.order_id, c.name, o.placed, count(*) as lines, sum(line_total(l.qty, l.price)) as total
from orders o join customers c on c.customer_id = o.customer_id
join order_lines l on l.order_id = o.order_id
group by o.order_id, c.name, o.placed order by o.order_id"

step "An aggregate: what sells best"
run -c "select p.name, sum(l.qty) as sold, sum(l.qty * l.price) as revenue
from products p join order_lines l on l.product_id = p.product_id
group by p.name order by revenue desc"

step "A stored procedure: two result sets, an output parameter and a server message (on stderr)"
run -c "create variable orders_of_ada integer" -c "call customer_report(1, orders_of_ada)" \
    -c "select orders_of_ada"

step "A positioned update: the cursor writes the row back, a second query shows it"
run -c "select product_id, name, price, stock from products where product_id = 3" \
    -c "\\modify price=49.50 stock=7 select product_id, price, stock from products where product_id = 3" \
    -c "select product_id, name, price, stock from products where product_id = 3"

step "Long values: a description and a picture per product"
run -c "select name, length(description) as description_chars, picture from products where product_id <= 3"

step "An online backup while connected"
run -c "\\backup $demo/backup"
ls -l "$demo/backup"

printf '\nThe demo database stays in %s. Open it yourself with\n  %s %s\n' "$demo" "$vdbsql" "$db"
