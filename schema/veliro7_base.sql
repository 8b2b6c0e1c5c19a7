-- The tables of database veliro7 that the administration kit reads and writes.
-- Used by the tests and by the demo installation. Safe to run on an empty database only.
CREATE SCHEMA IF NOT EXISTS config_veliro;
CREATE SCHEMA IF NOT EXISTS catalogos;
CREATE SCHEMA IF NOT EXISTS prestamo;

CREATE TABLE config_veliro.configuracion (
    descripcion text,
    valor text
);

CREATE TABLE config_veliro.tablaver (
    esquema text NOT NULL,
    tabla text NOT NULL,
    version integer NOT NULL DEFAULT 1,
    fecha date,
    usuario text
);

CREATE TABLE config_veliro.control (
    tabla text NOT NULL,
    registros integer
);

CREATE TABLE catalogos.analistas (
    idanalista serial PRIMARY KEY,
    usuario text,
    nombre text,
    clave text,
    idbiblioteca bigint NOT NULL DEFAULT 0
);

-- The three control tables whose row counts a backup records.
CREATE TABLE catalogos.usuarios (
    idusuario serial PRIMARY KEY,
    nombre text
);

CREATE TABLE prestamo.devoluciones (
    iddevolucion serial PRIMARY KEY,
    idusuario integer,
    fecha timestamp DEFAULT now()
);

CREATE TABLE prestamo.multas (
    idmulta serial PRIMARY KEY,
    idusuario integer,
    importe numeric(10, 2)
);

INSERT INTO config_veliro.tablaver (esquema, tabla, version, fecha, usuario)
VALUES ('catalogos', 'analistas', 2, '2009-11-29', 'postgres');

INSERT INTO config_veliro.control (tabla, registros)
VALUES ('catalogos.usuarios', 0), ('prestamo.devoluciones', 0), ('prestamo.multas', 0);
