-- The demo shop: customers, products with a description and a picture,
-- orders and their lines, a stored procedure with two result sets and an
-- output parameter, and a function. `make demo` loads it with
--   vdbsql --create build/demo/demo.db -f examples/demo.sql

create table customers (
  customer_id integer not null primary key,
  name        varchar(40) not null,
  city        varchar(30),
  email       varchar(60),
  since       date
);
create unique index ix_customers_email on customers (email);

create table products (
  product_id  integer not null primary key,
  name        varchar(40) not null,
  price       numeric(10,2) not null,
  stock       integer not null default 0,
  description long varchar,
  picture     long binary
);

create table orders (
  order_id    integer not null primary key,
  customer_id integer not null references customers (customer_id),
  placed      timestamp not null,
  status      varchar(10) not null default 'open'
);
create index ix_orders_customer on orders (customer_id);

create table order_lines (
  order_id    integer not null references orders (order_id),
  line_no     smallint not null,
  product_id  integer not null references products (product_id),
  qty         integer not null,
  price       numeric(10,2) not null,
  primary key (order_id, line_no)
);
create index ix_lines_product on order_lines (product_id);

insert into customers values (1, 'Ada Lovelace', 'London', 'ada@example.org', '2021-03-14');
insert into customers values (2, 'Alan Turing', 'Manchester', 'alan@example.org', '2021-06-23');
insert into customers values (3, 'Grace Hopper', 'Arlington', 'grace@example.org', '2022-01-09');
insert into customers values (4, 'Edsger Dijkstra', 'Nuenen', 'edsger@example.org', '2022-05-11');
insert into customers values (5, 'Barbara Liskov', 'Boston', null, '2023-11-07');

insert into products values (1, 'Espresso cup', 4.50, 120,
  'A small, thick-walled porcelain cup that keeps a double espresso hot to the last sip. Dishwasher safe; the glaze is lead-free and the handle fits two fingers.',
  X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC000000114944415478DA633821278715310C2D090090BF4101CF70A13C0000000049454E44AE426082');
insert into products values (2, 'Pour-over kettle', 39.90, 15,
  'A gooseneck kettle for slow, even pouring. One litre of brushed steel with a thermometer in the lid, for every hob including induction.',
  X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC000000114944415478DA63905B608315310C2D090064B03E8181F03FBB0000000049454E44AE426082');
insert into products values (3, 'Hand grinder', 54.00, 8,
  'A conical burr grinder with 40 click settings, from Turkish fine to French press coarse. Ceramic burrs, aluminium body, a crank that folds away.',
  X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC000000114944415478DA63D0703B8115310C2D0900208A4D81B8E3FEC60000000049454E44AE426082');
insert into products values (4, 'Filter papers (100)', 5.20, 300,
  'Unbleached paper filters, size 02, a hundred to a box. They rinse clean and leave no taste of paper behind.',
  X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC000000114944415478DA6378B645042B62185A120035BE6B81B1D3524D0000000049454E44AE426082');
insert into products values (5, 'Coffee scale', 29.00, 22,
  'Weighs to a tenth of a gram up to two kilograms, with a built-in timer for brewing. Water-resistant top, charges over USB.',
  X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC000000114944415478DA63A8B0598015310C2D09002CB755017013185C0000000049454E44AE426082');
insert into products values (6, 'Travel mug', 18.75, 60,
  'Double-walled steel that keeps coffee hot for six hours and the bag dry: the lid locks and seals.',
  X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC000000114944415478DA631059B50A2B62185A120005555A01EF3C6F4E0000000049454E44AE426082');
insert into products values (7, 'Milk jug', 12.30, 40,
  'A 350 ml steaming pitcher with a sharp spout for latte art and an etched scale inside.',
  X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC0000000F4944415478DA6388C2011886960400604E4381D78D19FB0000000049454E44AE426082');
insert into products values (8, 'House blend (1 kg)', 24.00, 75,
  'Our medium roast of Brazilian and Ethiopian beans: chocolate, hazelnut and a hint of berries. Roasted every Monday.',
  X'89504E470D0A1A0A0000000D49484452000000080000000808020000004B6D29DC000000114944415478DA63F850A18115310C2D0900451164012708F54B0000000049454E44AE426082');

insert into orders values (1001, 1, '2024-02-01 09:15:00', 'shipped');
insert into orders values (1002, 2, '2024-02-03 14:02:00', 'shipped');
insert into orders values (1003, 1, '2024-02-10 11:40:00', 'shipped');
insert into orders values (1004, 3, '2024-02-12 16:25:00', 'open');
insert into orders values (1005, 4, '2024-02-14 08:05:00', 'open');
insert into orders values (1006, 2, '2024-02-15 19:30:00', 'open');

insert into order_lines values (1001, 1, 2, 1, 39.90);
insert into order_lines values (1001, 2, 4, 2, 5.20);
insert into order_lines values (1001, 3, 8, 1, 24.00);
insert into order_lines values (1002, 1, 3, 1, 54.00);
insert into order_lines values (1002, 2, 8, 2, 24.00);
insert into order_lines values (1003, 1, 1, 6, 4.50);
insert into order_lines values (1004, 1, 5, 1, 29.00);
insert into order_lines values (1004, 2, 4, 3, 5.20);
insert into order_lines values (1004, 3, 6, 2, 18.75);
insert into order_lines values (1005, 1, 8, 3, 24.00);
insert into order_lines values (1005, 2, 7, 1, 12.30);
insert into order_lines values (1006, 1, 2, 1, 39.90);
insert into order_lines values (1006, 2, 3, 1, 54.00);
insert into order_lines values (1006, 3, 1, 2, 4.50);

-- The value of one order line.
create function line_total(qty integer, price numeric(10,2)) returns numeric(12,2)
begin
  return qty * price;
end;

-- A customer's orders and the products they bought: two result sets, and
-- the number of orders in an output parameter.
create procedure customer_report(in cust integer, out order_count integer)
begin
  select count(*) into order_count from orders where customer_id = cust;
  select o.order_id, o.placed, o.status, sum(line_total(l.qty, l.price)) as total
    from orders o join order_lines l on l.order_id = o.order_id
   where o.customer_id = cust
   group by o.order_id, o.placed, o.status
   order by o.order_id;
  select p.name, sum(l.qty) as bought
    from orders o join order_lines l on l.order_id = o.order_id
         join products p on p.product_id = l.product_id
   where o.customer_id = cust
   group by p.name
   order by p.name;
  message 'customer ' || cust || ' has ' || order_count || ' orders' to client;
end;
